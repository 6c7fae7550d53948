// SHA-256 of files, streamed from disk.
#pragma once

#include "downloads/download_result.h"

#include <QString>

namespace vk61 {

// Hashes the file in full; the digest is 64 lower-case hex digits.
// Fails with FileUnreadable or FileReadFailed.
// Blocks for the time it takes to read the file.
DigestResult compute_file_sha256(const QString& path);

// Compares the file's digest with expected_sha256 after trimming and
// lower-casing it. An empty expected digest accepts the file without reading it.
// `what` names the file in the mismatch message ("Firmware file", "Airport
// database"). Fails with DigestMismatch or one of compute_file_sha256's.
// Blocks for the time it takes to read the file.
DownloadResult verify_file_sha256(const QString& path, const QString& expected_sha256,
                                  const QString& what = QStringLiteral("Firmware file"));

// The DigestMismatch result of every digest failure: "<what> SHA-256 does not
// match the manifest." with both digests lined up below it.
DownloadResult sha256_mismatch(const QString& what, const QString& expected, const QString& actual);

}  // namespace vk61
