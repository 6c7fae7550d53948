// SHA-256 of files, streamed from disk.
#pragma once

#include <QString>

namespace vk61 {

// Hashes the file in full; *hex_out (optional) gets 64 lower-case hex digits.
// Blocks for the time it takes to read the file.
bool compute_file_sha256(const QString& path, QString* hex_out, QString* error = nullptr);

// Compares the file's digest with expected_sha256 after trimming and
// lower-casing it. An empty expected digest accepts the file without reading it.
// Blocks for the time it takes to read the file.
bool verify_file_sha256(const QString& path, const QString& expected_sha256,
                        QString* error = nullptr);

}  // namespace vk61
