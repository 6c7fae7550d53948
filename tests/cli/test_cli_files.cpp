// The files the tool writes: a write that falls short (a file size limit) or
// a target that is not a regular file is an error that names the file, and
// no part of a file is left where it would be taken for a whole one.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <QDirIterator>

#include <atomic>

#include "cli_test_support.h"
#include "config/config_file.h"
#include "files/checked_file_writer.h"

namespace clitest {
namespace {

// Lowers this process's file size limit while it lives. Writes beyond it
// fail with EFBIG: the signal that would end the process is ignored, as the
// programs ignore it at start-up.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        vk61::ignore_file_size_signal();
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        set_ = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved_); }
    bool set() const { return set_; }

private:
    rlimit saved_{};
    bool set_ = false;
};

// Every file below folder, hidden ones included.
QStringList files_below(const QString& folder) {
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) found << it.next();
    return found;
}

mode_t file_type(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
}

class CliWrites : public CliFixture {};

TEST_F(CliWrites, WritesThatFallShortOrWouldReplaceANonFileAreRefusedByName) {
    const QString pipe = path("pipe.json");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    // A node of the same device as /dev/full, in the test's own folder: a
    // tool that replaced it would not damage the machine's. Only root can
    // make one; others test the pipe alone.
    const QString device = path("full.json");
    const bool have_device = ::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0666, makedev(1, 7)) == 0;
    const QString exported = path("efis.json");
    struct Row {
        const char* name;
        std::vector<std::string> args;
        bool limited;    // under a 1 KiB file size limit
        QString target;  // the file the error must name
        QString folder;  // where no file may be left
        int code;
    };
    const std::vector<Row> rows = {
        {"export under a 1 KiB limit",
         {"config", "export", exported.toStdString()},
         true,
         exported,
         scratch.path() + "/none",
         2},
        // The store goes on without its backup, as it does for a full disk;
        // the warning names the backup that could not be written.
        {"backup before a store under a 1 KiB limit",
         {"config", "set", "v_ne=171"},
         true,
         backups.path(),
         backups.path(),
         0},
        {"export over a named pipe", {"config", "export", pipe.toStdString()}, false, pipe, {}, 2},
        {"export over a device", {"config", "export", device.toStdString()}, false, device, {}, 2},
    };
    for (const Row& row : rows) {
        if (QString(row.name).contains("device") && !have_device) continue;
        CliRun result;
        {
            std::optional<FileSizeLimit> limit;
            if (row.limited) {
                ASSERT_TRUE(limit.emplace(1024).set()) << row.name;
            }
            result = run(row.args);
        }
        EXPECT_EQ(result.code, row.code) << row.name << ": " << result.err;
        EXPECT_NE(result.err.find("Could not write " + row.target.toStdString()), std::string::npos)
            << row.name << ": " << result.err;
        if (!row.folder.isEmpty()) {
            // Neither a truncated file nor its temporary remains.
            const QStringList left = files_below(row.folder) + files_below(scratch.path()).filter("efis.json");
            EXPECT_TRUE(left.isEmpty()) << row.name << ": " << left.join(", ").toStdString();
        }
    }
    EXPECT_EQ(file_type(pipe), static_cast<mode_t>(S_IFIFO));
    if (have_device) {
        EXPECT_EQ(file_type(device), static_cast<mode_t>(S_IFCHR));
    }
    // Nothing else beside them: no export, no temporary file.
    QStringList expected = {"pipe.json"};
    if (have_device) expected.prepend("full.json");
    EXPECT_EQ(QDir(scratch.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name), expected);
    // The store of the second row reached every unit.
    for (std::uint8_t uid : bus.unit_uids()) EXPECT_EQ(stored(uid, index_of("v_ne")), 171u) << unsigned{uid};
}

// The units receive the bytes the tool read and checked before it sent
// anything: a file replaced on disk during the transfer (after the erase, or
// between two units) changes nothing in their flash.
TEST_F(CliWrites, AFileReplacedDuringATransferChangesNothingTheUnitsReceive) {
    constexpr std::uint32_t kWriteAddress = 0x00100000;  // the simulated units' firmware address
    constexpr std::uint32_t kImageOffset = 0x100;
    struct Row {
        const char* name;
        const char* command;
        QString file;
        QByteArray original;
        QByteArray replacement;
        std::uint32_t replaced_at;  // the identifier of the frame after which the file is replaced
    };
    const std::vector<Row> rows = {
        // The first erase command: the image is written only after the erase.
        {"firmware", "firmware", path("efis.bin"), firmware_image(0x20000, 5000, kImageOffset, 1),
         firmware_image(0x20000, 5000, kImageOffset, 2), 0x431},
        // The second unit's close command: the first unit has its database.
        {"airport database", "airports", path("airports.db"), non_zero_bytes(70000, 3), non_zero_bytes(70000, 4),
         0x452},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(write_file(row.file, row.original)) << row.name;
        std::atomic<bool> replaced{false};
        bus.set_frame_observer([&](const vk61::BusFrame& frame) {
            if (frame.identifier() == row.replaced_at && !replaced.exchange(true))
                write_file(row.file, row.replacement);
        });
        const std::string verb = row.command == std::string("firmware") ? "update" : "upload";
        const CliRun result = run({row.command, verb, row.file.toStdString()});
        bus.set_frame_observer(nullptr);
        ASSERT_EQ(result.code, 0) << row.name << ": " << result.err;
        ASSERT_TRUE(replaced) << row.name;
        for (std::uint8_t uid : bus.unit_uids()) {
            if (row.command == std::string("firmware")) {
                const QByteArray body = row.original.mid(64);
                EXPECT_EQ(bus.flash_bytes(uid, kWriteAddress + kImageOffset, static_cast<std::size_t>(body.size())),
                          bytes_of(body))
                    << row.name << ", UID " << unsigned{uid};
                EXPECT_EQ(bus.flash_bytes(uid, kWriteAddress, 64), bytes_of(row.original.left(64)))
                    << row.name << " header, UID " << unsigned{uid};
            } else {
                EXPECT_EQ(bus.flash_bytes(uid, 0, static_cast<std::size_t>(row.original.size())),
                          bytes_of(row.original))
                    << row.name << ", UID " << unsigned{uid};
            }
        }
    }
}

}  // namespace
}  // namespace clitest
