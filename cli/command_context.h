// What every command works with: the output streams, --json, the
// environment, and the bus session that connects, discovers and disconnects.
#pragma once

#include <QJsonObject>
#include <QString>

#include <memory>
#include <ostream>
#include <vector>

#include "cli.h"
#include "config/config_model.h"
#include "device_info.h"

namespace vk61 {
class CommsManager;
class FrameRecorder;
}  // namespace vk61

namespace vk61 {
class ManifestService;
}

namespace vk61::cli {

struct Context {
    std::ostream& out;
    std::ostream& err;
    bool json = false;
    const CliEnvironment& env;
    // The downloads manifest as this run has it (one per run, like the
    // window's): the network first, then the memory, cache and local copies.
    ManifestService& manifests;
    // --trace: every frame of the run's bus sessions goes here (null: none).
    FrameRecorder* trace = nullptr;

    // Reports a failure: the message on standard error and, with --json,
    // {"error": message, "exit_code": code} on standard output. Returns code.
    int fail(int code, const QString& message) const;
    // A warning on standard error that does not change the outcome.
    void warn(const QString& message) const;
    // One result as JSON on standard output.
    void print_json(const QJsonObject& result) const;
    // One line of human text on standard output (not with --json).
    void say(const QString& line) const;
    bool progress_terminal() const;
};

// "vk61-efis-cli 0.1.0": the tool named in the files it writes.
QString tool_text();

// The automatic backup before a store or an update, as the window takes it,
// of what the EFIS confirmed (nothing while a setting is unknown). A backup
// that cannot be written is reported and stops nothing. Returns the file that
// holds the backup, or an empty text.
QString write_backup(const Context& context, const ConfigModel& model, const CommsManager& comms,
                     const QString& reason);

// The bus for one command: connects on open(), waits for the units and
// disconnects when it ends.
class BusSession {
public:
    explicit BusSession(const Context& context);
    ~BusSession();  // disconnects; every wait ends and the receive thread is joined
    BusSession(const BusSession&) = delete;
    BusSession& operator=(const BusSession&) = delete;

    // Connects and discovers. Returns kExitOk, or the exit code after the
    // failure was reported (no bridge; no unit answered unless allow_none).
    int open(bool allow_no_units = false);
    CommsManager& comms() { return *comms_; }
    const std::vector<DeviceInfo>& units() const { return units_; }
    bool interrupted() const;

private:
    const Context& context_;
    std::unique_ptr<CommsManager> comms_;
    std::vector<DeviceInfo> units_;
};

}  // namespace vk61::cli
