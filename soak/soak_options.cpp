#include "soak_options.h"

#include <QCommandLineParser>
#include <QStringList>

#include <type_traits>

namespace soak {

namespace {

// Small transfers for the test run: the same paths, a fraction of the chunks.
constexpr TransferSizes kSmallSizes{1024, 4 * 1024, 2 * 1024, 12 * 1024};

bool read_number(const QCommandLineParser& parser, const QCommandLineOption& option, std::uint64_t lo, std::uint64_t hi,
                 std::uint64_t* out, std::string* error) {
    if (!parser.isSet(option)) return true;
    bool ok = false;
    const qulonglong value = parser.value(option).toULongLong(&ok);
    if (!ok || value < lo || value > hi) {
        *error = "--" + option.names().front().toStdString() + " takes a number from " + std::to_string(lo) + " to " +
                 std::to_string(hi);
        return false;
    }
    *out = value;
    return true;
}

}  // namespace

std::optional<SoakOptions> parse_soak_options(int argc, char** argv, std::string* error, bool* help) {
    *help = false;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Firmware updates and airport uploads against the simulated installation with random faults.");
    const QCommandLineOption help_option({"h", "help"}, "Show this help.");
    const QCommandLineOption operations({"n", "operations"}, "Operations to run (default 600).", "N");
    const QCommandLineOption settings("settings", "Settings operations after the transfers (default 200; 0: none).",
                                      "N");
    const QCommandLineOption seed({"s", "seed"}, "Seed of every random choice (default 1).", "N");
    const QCommandLineOption units("units", "Units on the bus, UIDs 1..N (default 3).", "N");
    const QCommandLineOption max_faults("max-faults", "Most faults per operation (default 3).", "N");
    const QCommandLineOption only(
        "only", "Draw faults only of these kinds (comma-separated, e.g. duplicate,bad-status).", "KINDS");
    const QCommandLineOption small("small", "Small transfers: firmware 1-4 KiB, database 2-12 KiB.");
    const QCommandLineOption latency("latency-us", "Latency of every simulated reply (default 200).", "US");
    const QCommandLineOption prepare("prepare-ms", "Prepare time-out (default 500).", "MS");
    const QCommandLineOption erase("erase-ms", "Erase-run time-out (default 3000).", "MS");
    const QCommandLineOption write("write-ms", "Time-out of each write echo (default 500).", "MS");
    const QCommandLineOption engine_log("engine-log", "File for the engine's log lines (default /dev/null).", "FILE");
    const QCommandLineOption quiet({"q", "quiet"}, "Only the summary, no line per operation.");
    const QCommandLineOption trace_dir(
        "trace-dir", "Folder for the bus trace of each operation that breaks a check (default: the current one).",
        "DIR");
    parser.addOptions({help_option, operations, settings, seed, units, max_faults, only, small, latency, prepare, erase,
                       write, engine_log, quiet, trace_dir});

    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    if (!parser.parse(arguments)) {
        *error = parser.errorText().toStdString();
        return std::nullopt;
    }
    if (parser.isSet(help_option)) {
        *help = true;
        // Without a QCoreApplication the parser cannot know the program's name.
        *error = parser.helpText().replace("<executable_name>", "vk61-fault-soak").toStdString();
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = "unexpected argument " + parser.positionalArguments().front().toStdString();
        return std::nullopt;
    }

    SoakOptions o;
    std::uint64_t v = 0;
    const auto number = [&](const QCommandLineOption& option, std::uint64_t lo, std::uint64_t hi, auto* field) {
        v = *field;
        if (!read_number(parser, option, lo, hi, &v, error)) return false;
        *field = static_cast<std::remove_reference_t<decltype(*field)>>(v);
        return true;
    };
    if (!number(operations, 1, 1000000, &o.operations) || !number(settings, 0, 1000000, &o.settings_operations) ||
        !number(seed, 0, UINT64_MAX, &o.seed) || !number(units, 1, 15, &o.units) ||
        !number(max_faults, 0, 7, &o.max_faults) || !number(latency, 0, 100000, &o.latency_us) ||
        !number(prepare, 10, 600000, &o.timeouts.prepare_ms) || !number(erase, 10, 600000, &o.timeouts.erase_ms) ||
        !number(write, 10, 600000, &o.timeouts.write_ms)) {
        return std::nullopt;
    }
    if (parser.isSet(small)) o.sizes = kSmallSizes;
    if (parser.isSet(only)) {
        for (const QString& name : parser.value(only).split(',', Qt::SkipEmptyParts)) {
            const std::optional<SoakFaultKind> kind = fault_kind_named(name.trimmed().toStdString());
            if (!kind) {
                *error = "--only: no fault kind " + name.toStdString();
                return std::nullopt;
            }
            o.kinds.push_back(*kind);
        }
    }
    if (parser.isSet(engine_log)) o.engine_log = parser.value(engine_log).toStdString();
    o.quiet = parser.isSet(quiet);
    if (parser.isSet(trace_dir)) o.trace_dir = parser.value(trace_dir).toStdString();
    return o;
}

}  // namespace soak
