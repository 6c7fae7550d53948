// Internal: SHA-256 of everything an open device still has to give.
#pragma once

#include <QByteArray>

class QIODevice;

namespace vk61::detail {

// Reads the device to its end in 1 MiB pieces and sets *digest to the
// 32-byte SHA-256. False when a read fails part way.
// Blocks for the time the reads take.
bool sha256_of_device(QIODevice* device, QByteArray* digest);

}  // namespace vk61::detail
