#include "cli.h"

#include <CLI/CLI.hpp>

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "commands.h"
#include "debug_log.h"
#include "downloads/manifest_service.h"
#include "exit_codes.h"
#include "result_exit.h"
#include "trace/pcap_trace.h"

namespace vk61::cli {

namespace {

void discard_message(QtMsgType, const QMessageLogContext&, const QString&) {}

void message_to_stderr(QtMsgType, const QMessageLogContext&, const QString& message) {
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

// The engine's log and Qt's messages go to standard error with --verbose and
// nowhere without; standard output carries only results. Restored on exit.
class LogRouting {
public:
    explicit LogRouting(bool verbose)
        : previous_(qInstallMessageHandler(verbose ? message_to_stderr : discard_message)) {
        set_debug_log_stream(verbose ? stderr : nullptr);
    }
    ~LogRouting() {
        set_debug_log_stream(stdout);
        qInstallMessageHandler(previous_);
    }
    LogRouting(const LogRouting&) = delete;
    LogRouting& operator=(const LogRouting&) = delete;

private:
    QtMessageHandler previous_;
};

// The first word of args that names no command where one is expected
// ("config frobnicate"), as a message; empty when every word is known.
QString unknown_command(const CLI::App& app, const std::vector<std::string>& args) {
    const CLI::App* current = &app;
    for (const std::string& word : args) {
        if (word.empty() || word.front() == '-') continue;
        const std::vector<const CLI::App*> commands = current->get_subcommands([](const CLI::App*) { return true; });
        if (commands.empty()) return {};
        QStringList names;
        const CLI::App* next = nullptr;
        for (const CLI::App* command : commands) {
            names << QString::fromStdString(command->get_name());
            if (command->get_name() == word) next = command;
        }
        if (next == nullptr) {
            const QString where =
                current == &app ? QString() : QStringLiteral(" of %1").arg(QString::fromStdString(current->get_name()));
            return QStringLiteral("Unknown command \"%1\"%2; expected one of: %3")
                .arg(QString::fromStdString(word), where, names.join(QStringLiteral(", ")));
        }
        current = next;
    }
    return {};
}

std::optional<std::uint32_t> parse_device_id(const std::string& text) {
    bool ok = false;
    const std::uint32_t value = QString::fromStdString(text).toUInt(&ok, 0);
    return ok ? std::optional<std::uint32_t>(value) : std::nullopt;
}

}  // namespace

int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env) {
    CLI::App app{"Sets up the VK61 EFIS and the units on its bus, without a window.", env.program};
    app.footer(kExitCodesHelp);
    app.set_version_flag("--version", std::string(env.program) + " " + VK61_VERSION);
    app.require_subcommand(1);
    // Global options may also follow the command.
    app.fallthrough();
    bool json = false;
    bool verbose = false;
    app.add_flag("--json", json, "Machine-readable output (JSON) on standard output");
    app.add_flag("-v,--verbose", verbose, "The engine's log lines on standard error");
    std::string trace_path;
    app.add_option("--trace", trace_path,
                   "Record every bus frame sent and received in FILE, a pcap capture that Wireshark opens as CAN FD");

    CLI::App* list = app.add_subcommand("list", "The units on the bus, with update availability");

    CLI::App* config = app.add_subcommand("config", "The EFIS settings");
    config->require_subcommand(1);
    CLI::App* show = config->add_subcommand("show", "Every setting, read from the EFIS");
    std::vector<std::string> names;
    CLI::App* get = config->add_subcommand("get", "The named settings' values, one a line");
    get->add_option("NAME", names, "Setting names (see config show)")->required();
    std::vector<std::string> assignments;
    CLI::App* set = config->add_subcommand("set", "Check, write, store and verify settings (backup first)");
    set->add_option("NAME=VALUE", assignments, "Settings to change")->required();
    bool set_include_unstored = false;
    set->add_flag("--include-unstored", set_include_unstored,
                  "Store even though the EFIS holds working values that were never stored (they are stored too)");
    std::string export_path;
    CLI::App* export_cmd = config->add_subcommand("export", "Write the EFIS configuration to a file");
    export_cmd->add_option("FILE", export_path, "Configuration file to write; - writes it to standard output")
        ->required();
    std::string import_path;
    ImportOptions import_options;
    CLI::App* import_cmd = config->add_subcommand("import", "Restore a configuration file (preview, then apply)");
    import_cmd->add_option("FILE", import_path, "Configuration file to read")->required();
    import_cmd->add_flag("--dry-run", import_options.dry_run, "Show the preview only; send nothing");
    import_cmd->add_flag("--force", import_options.force, "Apply a file written for another memory version");
    import_cmd->add_flag(
        "--include-unstored", import_options.include_unstored,
        "Store even though the EFIS holds working values that were never stored (they are stored too)");

    bool wait = false;
    CLI::App* reboot = app.add_subcommand("reboot", "Reboot the units");
    reboot->add_flag("--wait", wait, "Return once a unit has been heard again (fail after about a minute)");

    // firmware update and airports upload: a FILE or --fetch, never both.
    struct TransferArguments {
        CLI::App* command = nullptr;
        std::string path;
        bool fetch = false;
    };
    const auto add_transfer = [&app](TransferArguments& arguments, const char* group, const char* group_help,
                                     const char* name, const char* help, const char* file_help,
                                     const char* fetch_help) {
        CLI::App* parent = app.add_subcommand(group, group_help);
        parent->require_subcommand(1);
        arguments.command = parent->add_subcommand(name, help);
        CLI::Option* file = arguments.command->add_option("FILE", arguments.path, file_help);
        file->excludes(arguments.command->add_flag("--fetch", arguments.fetch, fetch_help));
    };
    TransferArguments update;
    add_transfer(update, "firmware", "Firmware of the units", "update",
                 "Update every unit from FILE or a fetched package", "Firmware file (.bin)",
                 "Download the matching package");
    FirmwareUpdateOptions update_options;
    update.command->add_flag("--force", update_options.force,
                             "Update even a unit that would go back to an older version or receive an image for "
                             "another type of unit, or with an erase far beyond the image");
    CLI::Option* reboot_after = update.command->add_flag(
        "--reboot", update_options.reboot,
        "Afterwards reboot the units, wait for every one of them and compare their configuration with the backup "
        "taken before the update");
    update.command
        ->add_flag("--restore", update_options.restore,
                   "With --reboot: store the backup's settings again when the configuration differs")
        ->needs(reboot_after);
    TransferArguments upload;
    add_transfer(upload, "airports", "The airport database of the units", "upload",
                 "Replace the airport database on every unit", "Airport database (.db)",
                 "Download the newest database");
    AirportUploadOptions airport_options;
    upload.command->add_flag("--one-at-a-time", airport_options.one_at_a_time,
                             "Upload to one unit after another and stop at the first that fails (a single unit is "
                             "always done so); by default every unit takes each chunk at once");
    upload.command->add_flag("--resume", airport_options.resume,
                             "Go on where an interrupted upload of the same file to the same units stopped");

    std::string device_id_text;
    CLI::App* fetch = app.add_subcommand("fetch", "Download and verify into the cache; print the path");
    fetch->require_subcommand(1);
    CLI::App* fetch_manifest = fetch->add_subcommand("manifest", "The downloads manifest");
    CLI::App* fetch_firmware = fetch->add_subcommand("firmware", "The firmware package of a unit");
    fetch_firmware->add_option("--device-id", device_id_text,
                               "Device id as `list` shows it (0x and eight hex digits); default: the EFIS on the bus");
    CLI::App* fetch_airports = fetch->add_subcommand("airports", "The newest airport database");

    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
        for (const TransferArguments* transfer : {&update, &upload}) {
            if (transfer->command->parsed() && transfer->path.empty() && !transfer->fetch) {
                throw CLI::ValidationError("FILE or --fetch", "give a FILE or --fetch");
            }
        }
    } catch (const CLI::ParseError& e) {
        // --help and --version end here too, with code 0.
        if (e.get_exit_code() == 0) {
            app.exit(e, out, err);
            return kExitOk;
        }
        QString message = unknown_command(app, args);
        if (message.isEmpty()) message = QString::fromStdString(e.what());
        err << "error: " << message.toStdString() << '\n' << "Run with --help for more information.\n" << std::flush;
        // The parse failed, so --json is looked for among the words themselves.
        if (std::find(args.begin(), args.end(), "--json") != args.end()) {
            out << QJsonDocument(QJsonObject{{"error", message}, {"exit_code", kExitBadInput}})
                       .toJson(QJsonDocument::Indented)
                       .toStdString()
                << std::flush;
        }
        return kExitBadInput;
    }

    const LogRouting routing(verbose);
    ManifestService manifests(env.downloads);
    std::unique_ptr<vk61::PcapTrace> trace;
    if (!trace_path.empty()) {
        vk61::TraceOpened opened = vk61::PcapTrace::create(trace_path);
        if (!opened.ok()) {
            const Context context{out, err, json, env, manifests};
            return context.fail(exit_code(opened), QString::fromStdString(describe(opened)));
        }
        trace = std::move(opened.trace);
    }
    const Context context{out, err, json, env, manifests, trace.get()};
    if (list->parsed()) return run_list(context);
    if (show->parsed()) return run_config_show(context);
    if (get->parsed()) return run_config_get(context, names);
    if (set->parsed()) return run_config_set(context, assignments, set_include_unstored);
    if (export_cmd->parsed()) return run_config_export(context, QString::fromStdString(export_path));
    if (import_cmd->parsed()) return run_config_import(context, QString::fromStdString(import_path), import_options);
    if (reboot->parsed()) return run_reboot(context, wait);
    if (update.command->parsed())
        return run_firmware_update(context, QString::fromStdString(update.path), update_options);
    if (upload.command->parsed())
        return run_airports_upload(context, QString::fromStdString(upload.path), airport_options);
    if (fetch_manifest->parsed()) return run_fetch_manifest(context);
    if (fetch_firmware->parsed()) {
        std::optional<std::uint32_t> device_id;
        if (!device_id_text.empty()) {
            device_id = parse_device_id(device_id_text);
            if (!device_id) {
                return context.fail(kExitBadInput,
                                    QStringLiteral("Not a device id: %1").arg(QString::fromStdString(device_id_text)));
            }
        }
        return run_fetch_firmware(context, device_id);
    }
    if (fetch_airports->parsed()) return run_fetch_airports(context);
    return context.fail(kExitBadInput, QStringLiteral("No command"));
}

}  // namespace vk61::cli
