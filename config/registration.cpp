#include "registration.h"

#include <algorithm>

namespace vk61 {

namespace {
constexpr std::size_t kRegistrationOffset = 32;
}  // namespace

const std::array<const char*, kRegistrationPrefixCount> REGISTRATION_PREFIXES = {
    "N",  "C",  "G",   "F",  "D",  "I",  "EC", "PH", "SE", "LN", "OY", "OH", "SP", "OK",   "HA", "YR", "LZ", "YU",
    "9A", "S5", "LY",  "YL", "ES", "UR", "RA", "4K", "EK", "EI", "LX", "HB", "OE", "9H",   "9V", "VH", "ZK", "JA",
    "B",  "HL", "HS",  "9M", "PK", "RP", "VT", "AP", "S2", "4R", "A5", "XY", "XU", "RDPL", "VN", "P2", "C6", "V2",
    "V3", "V4", "V5",  "V6", "V7", "V8", "V9", "XA", "PP", "LV", "CC", "OB", "CP", "CX",   "HK", "YV", "HC", "HP",
    "TI", "YN", "YS",  "TG", "HR", "JY", "SU", "7T", "CN", "5A", "ST", "ET", "5Y", "5H",   "5X", "9Q", "9J", "9K",
    "A6", "A7", "A9C", "HZ", "EP", "YK", "OD", "4X", "J2", "S7", "D2", "D6", "3B", "3C",   "3D", "3X", "3Y", "5B",
    "5C", "5D", "5E",  "5F", "5G", "5H", "5I", "5J", "5K", "5L", "5M", "5N", "5O", "5P",   "5Q", "5R", "5S", "5T",
    "5U", "5V", "5W",  "5X", "5Y", "5Z", "6O", "6P", "6Q", "6R", "6S", "6T", "6U", "6V",   "6W", "6X", "6Y", "6Z",
    "7O", "7P", "7Q",  "7R", "7S", "7T", "7U", "7V", "7W", "7X", "7Y", "7Z", "8P", "8Q",   "8R", "8S", "8T", "8U",
    "8V", "8W", "8X",  "8Y", "8Z", "9A", "9B", "9C", "9D", "9E", "9F", "9G", "9H", "9I",   "9J", "9K", "9L", "9M",
    "9N", "9O", "9P",  "9Q", "9R", "9S", "9T", "9U", "9V", "9W", "9X", "9Y", "9Z"};

RegistrationBytes join_registration(std::string_view prefix, std::string_view number) {
    RegistrationBytes bytes{};
    if (number.empty()) return bytes;
    std::string joined;
    joined.reserve(prefix.size() + number.size());
    joined.append(prefix).append(number);
    const std::size_t length = std::min(joined.size(), kRegistrationMaxChars);
    for (std::size_t i = 0; i < length && joined[i] != '\0'; ++i) bytes[i] = static_cast<std::uint8_t>(joined[i]);
    return bytes;
}

RegistrationSplit split_registration(const RegistrationBytes& bytes) {
    RegistrationSplit split;
    split.prefix = kDefaultRegistrationPrefix;
    auto ends_text = [](std::uint8_t b) { return b == 0x00 || b == 0xFF; };
    if (ends_text(bytes[0])) return split;

    split.blank = false;
    std::size_t length = 1;
    while (length < kRegistrationMaxChars && !ends_text(bytes[length])) ++length;
    split.text.assign(reinterpret_cast<const char*>(bytes.data()), length);

    for (const char* prefix : REGISTRATION_PREFIXES) {
        if (std::string_view(split.text).starts_with(prefix)) {
            split.found = prefix;
            break;
        }
    }
    if (!split.found.empty()) {
        split.prefix = split.found;
        split.number = split.text.substr(split.found.size());
    } else {
        split.number = split.text.substr(0, kRegistrationMaxChars - kDefaultRegistrationPrefix.size());
    }
    return split;
}

RegistrationBytes registration_of(const ConfigRecord& record) {
    RegistrationBytes bytes{};
    std::copy_n(record.bytes.begin() + kRegistrationOffset, kRegistrationBytes, bytes.begin());
    return bytes;
}

std::array<std::uint32_t, 3> registration_words(const RegistrationBytes& bytes) {
    std::array<std::uint32_t, 3> words{};
    for (std::size_t w = 0; w < words.size(); ++w) {
        for (std::size_t i = 0; i < 4; ++i) words[w] = (words[w] << 8) | bytes[4 * w + i];
    }
    return words;
}

}  // namespace vk61
