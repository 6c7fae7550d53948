// Writes a whole file or nothing. The bytes go to a temporary file beside the
// target; every byte is checked to have reached it (a short write, a full
// disk or a file size limit is an error that names the target) and flushed
// to the disk before the temporary file is renamed over the target. A target
// that exists and is not a regular file (a device node such as /dev/full, a
// folder, a pipe) is refused: the rename would replace it.
#pragma once

#include <QByteArray>
#include <QString>

namespace vk61 {

struct FileWriteResult {
    bool ok = false;
    QString error;  // "Could not write <path>: <why>", empty on success
};

// Blocks on the file system only; nothing is left beside the target when it
// fails.
FileWriteResult write_file_atomically(const QString& path, const QByteArray& bytes);

// The refusal above, for a writer that streams to a file of its own and
// renames it over path: "Could not write <path>: it exists and is not a
// regular file", or empty when path may be replaced.
QString non_regular_target_error(const QString& path);

// A write beyond the process's file size limit (RLIMIT_FSIZE) raises SIGXFSZ,
// whose default action ends the process without a word. The programs ignore
// it at start-up so that such a write fails with EFBIG and is reported.
// No-op where the signal does not exist.
void ignore_file_size_signal();

}  // namespace vk61
