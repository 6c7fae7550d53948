// Writes a whole file or nothing. The bytes go to a temporary file beside the
// target; every byte is checked to have reached it (a short write, a full
// disk or a file size limit is an error that names the target) and flushed
// to the disk before the temporary file is renamed over the target. A target
// that exists and is not a regular file (a device node such as /dev/full, a
// folder, a pipe) is refused: the rename would replace it.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace vk61 {

// Why a file could not be written.
enum class FileWriteFailure : std::uint8_t {
    None,
    NoFileName,      // the path is empty
    NotRegularFile,  // the target exists and is a device, a folder or a pipe
    CannotCreate,    // no temporary file could be made beside the target
    ShortWrite,      // fewer bytes reached the file than were given
    NotOnDisk,       // the data could not be flushed to the disk
    RenameFailed,    // the temporary file could not replace the target
};

struct FileWriteResult {
    FileWriteFailure failure = FileWriteFailure::None;
    QString path;    // the target as it was asked for
    QString detail;  // the system's reason and the figures, where there are any

    bool ok() const { return failure == FileWriteFailure::None; }
};

// "Could not write <path>: <why>"; "" on success.
QString describe(const FileWriteResult& result);

// Blocks on the file system only; nothing is left beside the target when it
// fails.
FileWriteResult write_file_atomically(const QString& path, const QByteArray& bytes);

// The refusal above, for a writer that streams to a file of its own and
// renames it over path: NotRegularFile, or success when path may be replaced.
FileWriteResult check_replaceable(const QString& path);

// A write beyond the process's file size limit (RLIMIT_FSIZE) raises SIGXFSZ,
// whose default action ends the process without a word. The programs ignore
// it at start-up so that such a write fails with EFBIG and is reported.
// No-op where the signal does not exist.
void ignore_file_size_signal();

}  // namespace vk61
