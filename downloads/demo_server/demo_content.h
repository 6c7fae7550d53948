// The files the demo download server offers: a manifest with one firmware
// package for each simulated unit type and two airport databases, all with
// correct SHA-256 digests. Generated at demo start; nothing is committed.
#pragma once

#include <QString>
#include <QUrl>

#include "files/checked_file_writer.h"

namespace vk61 {

// Firmware versions the demo manifest offers. The simulated units run C3 1.4.2,
// D5 2.1.0 and FF 1.0.3: the C3 package is newer (an update shows), the others
// offer what the units already run.
struct DemoFirmware {
    const char* device_type;
    const char* display_name;
    const char* version;
    const char* file_name;
};
inline constexpr DemoFirmware kDemoFirmware[] = {
    {"C3", "Halvard", "1.5.0", "halvard_1.5.0.bin"},
    {"D5", "Tessaly", "2.1.0", "tessaly_2.1.0.bin"},
    {"FF", "Morrow", "1.0.3", "morrow_1.0.3.bin"},
};

// Writes under root:
//   firmware/downloads_manifest.json
//   firmware/<file> for each kDemoFirmware entry (64-byte header: total_size
//     0x30000 at 8, encrypted_size 150000 at 16, image offset 0x100 at 44;
//     then 150000 body bytes)
//   databases/airports_2026-10.db (1 MiB) and databases/airports_2026-11.db (2 MiB,
//     the newest)
// download_url of every entry is base_url joined with the file's path.
// Stops at the first file that cannot be written and names it.
FileWriteResult write_demo_content(const QString& root, const QUrl& base_url);

}  // namespace vk61
