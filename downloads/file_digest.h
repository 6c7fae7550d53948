// SHA-256 of files, streamed from disk.
#pragma once

#include <QString>

namespace vk61 {

// Hashes the file in full; *hex_out (optional) gets 64 lower-case hex digits.
// Blocks for the time it takes to read the file.
bool compute_file_sha256(const QString& path, QString* hex_out, QString* error = nullptr);

// Compares the file's digest with expected_sha256 after trimming and
// lower-casing it. An empty expected digest accepts the file without reading it.
// `what` names the file in the mismatch message ("Firmware file", "Airport
// database"). Blocks for the time it takes to read the file.
bool verify_file_sha256(const QString& path, const QString& expected_sha256, QString* error = nullptr,
                        const QString& what = QStringLiteral("Firmware file"));

// "<what> SHA-256 does not match the manifest." with both digests lined up
// below it: the one text of every digest failure.
QString sha256_mismatch_message(const QString& what, const QString& expected, const QString& actual);

}  // namespace vk61
