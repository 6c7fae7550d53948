// The indices of the configuration record that code refers to by name. Each
// index names one 32-bit element exchanged with the units; settings are 0-39,
// the record's header words 252-255. The settings catalogue
// (settings_catalogue.cpp) lists every setting with its index.
#pragma once

namespace vk61 {

inline constexpr unsigned kSettingCount = 40;  // indices 0-39

inline constexpr unsigned kIndexRegistrationFirst = 11;  // 11-13, four bytes each
inline constexpr unsigned kIndexRegistrationLast = 13;
inline constexpr unsigned kIndexTerminationMask = 34;
inline constexpr unsigned kIndexDefaultScreenFirst = 36;  // 36-39, four UIDs each
inline constexpr unsigned kIndexDefaultScreenLast = 39;

// Header words. The checksum is also the word a store command carries.
inline constexpr unsigned kIndexChecksum = 252;
inline constexpr unsigned kIndexMagic = 253;
inline constexpr unsigned kIndexMemoryVersion = 254;
inline constexpr unsigned kIndexNumElements = 255;

}  // namespace vk61
