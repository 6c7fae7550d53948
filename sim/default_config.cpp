#include "default_config.h"

#include <bit>
#include <cstdint>
#include <utility>

namespace sim {

ConfigImage default_config_image() {
    ConfigImage image{};
    const std::pair<unsigned, std::uint32_t> elements[] = {
        {253, kConfigMagic},
        {254, 3},                            // memory_version
        {255, kConfigWords},                 // num_elements
        {0, 0x02u | 0x08u | 0x40u | 0x80u},  // knots, feet, Celsius, inHg
        {1, 30},                             // Vmin
        {2, 45},                             // Vs0
        {3, 52},                             // Vs1
        {4, 85},                             // Vfe
        {5, 130},                            // Vn0
        {6, 165},                            // Vne
        {7, 65},                             // Vref
        {8, 100},                            // Vlo
        {9, 115},                            // 11.5 V low-voltage warning
        {10, 155},                           // 15.5 V high-voltage warning
        {11, 0x4E313233u},                   // "N123"
        {12, 0x41420000u},                   // "AB"
        {13, 0},
        {14, 0xFF1E5AC8u},                         // sky upper
        {15, 0xFF4A90E2u},                         // sky lower
        {16, 0xFF8B5A2Bu},                         // ground upper
        {17, 0xFF5C3A1Au},                         // ground lower
        {18, 0xFFFF00FFu},                         // approach indicator
        {19, 0xFFFFD700u},                         // airplane
        {20, 0xFF00C000u},                         // green arc
        {21, 0xFFFFD000u},                         // yellow arc
        {22, 0xFFE00000u},                         // red arc
        {23, 0xFF00FF00u},                         // gear indicator
        {24, 15},                                  // backlight step
        {25, std::bit_cast<std::uint32_t>(0.0f)},  // roll correction
        {26, std::bit_cast<std::uint32_t>(0.0f)},  // pitch correction
        {27, 110},                                 // 11.0 V low-voltage alert
        {28, 160},                                 // 16.0 V high-voltage alert
        {29, 128},                                 // text background alpha
        {30, 0},
        {31, 0x00A1B2C3u},  // ownship ICAO address
        {32, 0},            // fixed ICAO address
        {33, 1},            // emitter category A1
        {34, 0x0000000Au},  // termination on UIDs 1 and 3
        {35, 0},            // north up
        {36, 0x00000100u},  // UID 1 starts on screen 1
        {37, 0},
        {38, 0},
        {39, 0},
    };
    for (const auto& [index, value] : elements) set_config_element(image, index, value);
    set_config_element(image, 252, config_image_crc(image));
    return image;
}

}  // namespace sim
