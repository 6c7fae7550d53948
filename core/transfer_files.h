// The files the units receive, read once for both front ends: the firmware
// file and the airport database are read whole into memory before anything
// is sent (their sizes checked before the read), their SHA-256 is computed
// over those bytes when a digest is expected, and the transfer then sends
// exactly those bytes to every unit. A file changed or replaced on disk
// afterwards changes nothing.
#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

#include "flash/firmware_file.h"

namespace vk61 {

enum class TransferFileProblem {
    None,
    Missing,         // no such file, or not a file (a folder, say)
    Unreadable,      // it could not be opened or read whole
    Empty,           // nothing to send
    TooLarge,        // more than the units have room for
    DigestMismatch,  // not the bytes the manifest describes
};

struct LoadedFirmware {
    std::shared_ptr<const FirmwareImage> image;  // null unless problem is None
    TransferFileProblem problem = TransferFileProblem::None;
    QString error;  // for people; names the file

    bool ok() const { return problem == TransferFileProblem::None && image != nullptr; }
};

struct LoadedDatabase {
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;  // null unless problem is None
    TransferFileProblem problem = TransferFileProblem::None;
    QString error;

    bool ok() const { return problem == TransferFileProblem::None && bytes != nullptr; }
};

// The error when the file cannot be sent ("Firmware file was not found: ...",
// "The airport database ... is empty"); otherwise how many bytes were read.
QString describe(const LoadedFirmware& loaded);
QString describe(const LoadedDatabase& loaded);

// Blocks for the time the read and the digest take. An empty
// expected_sha256 checks no digest.
LoadedFirmware load_firmware_file(const QString& path, const QString& expected_sha256);
LoadedDatabase load_airport_database(const QString& path, const QString& expected_sha256);

// 64 lower-case hex digits.
QString sha256_hex(const std::uint8_t* data, std::size_t size);

}  // namespace vk61
