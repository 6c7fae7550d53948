#include "command_context.h"

#include <QJsonDocument>

#include <unistd.h>

#include "comms_manager.h"
#include "config/backup_store.h"
#include "core/configuration_snapshot.h"
#include "core/store_backup.h"
#include "core/store_texts.h"
#include "engine_calls.h"
#include "result_exit.h"
#include "exit_codes.h"

#ifndef VK61_VERSION
#define VK61_VERSION "unknown"
#endif

namespace vk61::cli {

QString tool_text() { return QStringLiteral("vk61-efis-cli " VK61_VERSION); }

QString write_backup(const Context& context, const ConfigModel& model, const CommsManager& comms,
                     const QString& reason) {
    const QString root = context.env.backup_root.isEmpty() ? BackupStore::default_root() : context.env.backup_root;
    const StoreBackup backup = backupBeforeStore(model, primaryUnit(comms), tool_text(), reason, root);
    if (!backup.ok()) {
        context.warn(describe(backup));
        return {};
    }
    return backup.saved.path;
}

int Context::fail(int code, const QString& message) const {
    err << "error: " << message.toStdString() << '\n' << std::flush;
    if (json) print_json(QJsonObject{{"error", message}, {"exit_code", code}});
    return code;
}

void Context::warn(const QString& message) const { err << "warning: " << message.toStdString() << '\n' << std::flush; }

void Context::print_json(const QJsonObject& result) const {
    out << QJsonDocument(result).toJson(QJsonDocument::Indented).toStdString() << std::flush;
}

void Context::say(const QString& line) const {
    if (!json) out << line.toStdString() << '\n' << std::flush;
}

bool Context::progress_terminal() const {
    return env.progress_terminal ? *env.progress_terminal : ::isatty(STDERR_FILENO) == 1;
}

BusSession::BusSession(const Context& context) : context_(context), comms_(std::make_unique<CommsManager>()) {
    if (context.trace != nullptr) comms_->record_frames(context.trace);
}

BusSession::~BusSession() { comms_->disconnect(); }

bool BusSession::interrupted() const { return context_.env.interrupted != nullptr && context_.env.interrupted->load(); }

int BusSession::open(bool allow_no_units) {
    if (const OperationResult connected = connect_bridge(*comms_); !connected) {
        return context_.fail(exit_code(connected), notConnectedText());
    }
    units_ = discover_units(*comms_, context_.env.timings, context_.env.interrupted);
    if (interrupted()) return context_.fail(kExitBusFailure, QStringLiteral("Interrupted"));
    if (units_.empty() && !allow_no_units) {
        return context_.fail(kExitNotConnected, QStringLiteral("No unit answered on the bus"));
    }
    return kExitOk;
}

}  // namespace vk61::cli
