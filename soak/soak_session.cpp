#include "soak_session.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "bus_frame.h"
#include "core/airport_resume.h"
#include "flash_checks.h"
#include "outcome.h"
#include "protocol.h"
#include "setting_indices.h"
#include "virtual_hidapi_control.h"

namespace soak {

namespace {

using namespace std::chrono_literals;

constexpr auto kDatabaseAckWait = 5000ms;  // fixed inside upload_airport_db
constexpr auto kBoundMargin = 2000ms;
constexpr auto kWatchdogMargin = 30000ms;
constexpr auto kDefaultReboot = 1000ms;
constexpr auto kReplugLimit = 2000ms;
constexpr auto kSettingReadWait = 1000ms;
constexpr unsigned kLastLinesShown = 40;
// total_size 0x20000 from the default write address 0x00100000, or a shorter
// one from an address inside block 0x11 that may reach block 0x13 (an
// unaligned-address fault).
constexpr std::uint32_t kFirmwareArea = 0x40000;
constexpr std::uint32_t kAirportArea = 0x20000;
constexpr std::uint8_t kHighestSettingIndex = vk61::kSettingCount - 1;
constexpr auto kSettingReadRetryWait = 5000ms;
// A stall this long is a fifth of the default echo time-out: enough for the
// machine, not the engine, to be what let a short time-out expire.
constexpr auto kStarvedStall = 100ms;

std::chrono::milliseconds max_of(std::initializer_list<std::chrono::milliseconds> values) { return std::max(values); }

std::string fault_texts(const std::vector<PlannedFault>& faults) {
    if (faults.empty()) return "none";
    std::string out;
    for (const PlannedFault& f : faults) out += (out.empty() ? "" : "; ") + f.text;
    return out;
}

// Share of failed airport uploads after which a resume is drawn.
constexpr unsigned kResumePercent = 50;
// Share of airport uploads to more than one unit run to every unit at once
// (the front ends' default); the rest go one unit after another.
constexpr unsigned kTogetherPercent = 70;

// Host frames of one command base addressed to uid.
std::vector<vk61::BusFrame> frames_to(const sim::Installation& bus, std::uint16_t base, std::uint8_t uid) {
    std::vector<vk61::BusFrame> out;
    for (const sim::HostFrame& f : bus.host_frames()) {
        if (f.frame.base() == base && f.frame.uid_bits() == uid) out.push_back(f.frame);
    }
    return out;
}

std::string uid_list(std::vector<unsigned> uids) {
    std::sort(uids.begin(), uids.end());
    std::string out;
    for (unsigned uid : uids) out += (out.empty() ? "" : ",") + std::to_string(uid);
    return "{" + out + "}";
}

}  // namespace

SoakSession::SoakSession(const SoakOptions& options, std::FILE* out)
    : options_(options),
      out_(out),
      random_(options.seed),
      rig_(options.units, std::chrono::microseconds(options.latency_us)),
      runner_(rig_.comms(), options.timeouts),
      planner_(random_, options.units, options.kinds),
      dir_(std::filesystem::temp_directory_path() / ("vk61_fault_soak_" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(dir_);
    rig_.comms().record_frames(&trace_);
}

SoakSession::~SoakSession() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

Transfer SoakSession::make_transfer(TransferKind kind) {
    return kind == TransferKind::FirmwareUpdate ? make_firmware_transfer(random_, options_.sizes)
                                                : make_airport_transfer(random_, options_.sizes);
}

std::string SoakSession::write_file(const Transfer& transfer) const {
    const std::filesystem::path path = dir_ / (transfer.kind == TransferKind::FirmwareUpdate ? "fw.bin" : "apt.db");
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(transfer.file.data()), static_cast<std::streamsize>(transfer.file.size()));
    return path.string();
}

std::chrono::milliseconds SoakSession::expected_duration(const Transfer& transfer) const {
    const double chunks = transfer.chunks_per_unit();
    const double ms = transfer.kind == TransferKind::FirmwareUpdate
                          ? chunks * pace_.firmware_ms_per_chunk
                          : chunks * options_.units * pace_.airport_ms_per_chunk;
    return std::chrono::milliseconds(static_cast<long long>(ms) + 100);
}

std::chrono::milliseconds SoakSession::time_out_bound(const Transfer& transfer,
                                                      const std::vector<PlannedFault>& faults) const {
    const TransferTimeouts& t = options_.timeouts;
    const auto erase = std::chrono::milliseconds(t.erase_ms);
    const auto write = std::chrono::milliseconds(t.write_ms);
    const std::chrono::milliseconds longest_wait = transfer.kind == TransferKind::FirmwareUpdate
                                                       ? max_of({std::chrono::milliseconds(t.prepare_ms), erase, write})
                                                       : max_of({kDatabaseAckWait, erase, write});
    std::chrono::milliseconds delays{0};
    for (const PlannedFault& f : faults) delays += f.added_delay();
    return 3 * expected_duration(transfer) + longest_wait + delays + kBoundMargin;
}

std::optional<Interference> SoakSession::reboot_interference(const std::vector<PlannedFault>& faults) {
    for (const PlannedFault& f : faults) {
        if (!f.reboot) continue;
        Interference interference;
        interference.after = f.reboot->after;
        if (f.reboot->via_manager) {
            vk61::CommsManager& comms = rig_.comms();
            interference.action = [&comms] { comms.reboot_devices(); };
        } else {
            // As if another node on the bus sent the reboot command.
            sim::Installation& bus = rig_.bus();
            interference.action = [&bus] {
                const std::uint8_t payload[] = {0x48};
                bus.receive_from_host(vk61::make_frame(0, 0x3B0, 1, payload, sizeof payload));
            };
        }
        return interference;
    }
    return std::nullopt;
}

bool SoakSession::starved() const { return stalls_.longest_stall() >= kStarvedStall; }

bool SoakSession::run_baseline(std::string* problem) {
    for (const TransferKind kind : {TransferKind::FirmwareUpdate, TransferKind::AirportUpload}) {
        TransferSizes largest = options_.sizes;
        largest.firmware_min = largest.firmware_max;
        largest.airport_min = largest.airport_max;
        const Transfer transfer = kind == TransferKind::FirmwareUpdate ? make_firmware_transfer(random_, largest)
                                                                       : make_airport_transfer(random_, largest);
        begin_operation();
        stalls_.reset();
        const OperationRun run = runner_.run(kind, write_file(transfer), rig_.uids(), std::nullopt, 600s);
        if (!run.returned || !run.success) {
            if (run.returned) print_longest_silence(0);
            *problem = std::string("the fault-free ") + transfer_kind_name(kind) +
                       " failed (the process was held off the CPU for up to " +
                       std::to_string(stalls_.longest_stall().count()) + " ms)";
            return false;
        }
        const std::vector<std::string> lines = log_.lines();
        const bool content = kind == TransferKind::FirmwareUpdate
                                 ? firmware_in_flash(rig_.bus(), firmware_targets_from_log(lines), transfer, problem)
                                 : database_in_flash(rig_.bus(), rig_.uids(), transfer, problem);
        if (!content) return false;
        const double ms = static_cast<double>(run.took.count());
        const double chunks = transfer.chunks_per_unit();
        if (kind == TransferKind::FirmwareUpdate) {
            pace_.firmware_ms_per_chunk = std::max(0.2, ms / chunks);
        } else {
            pace_.airport_ms_per_chunk = std::max(0.2, ms / (chunks * options_.units));
        }
        std::fprintf(out_, "baseline %s: %zu bytes on %u units in %lld ms\n", transfer_kind_name(kind),
                     transfer.body.size(), options_.units, static_cast<long long>(run.took.count()));
    }
    return true;
}

void SoakSession::check_flash(unsigned index, const Transfer& transfer, bool success,
                              const vk61::OperationResult& result, const std::vector<std::string>& lines) {
    sim::Installation& bus = rig_.bus();
    std::string problem;
    if (transfer.kind == TransferKind::AirportUpload) {
        if (success && !database_in_flash(bus, rig_.uids(), transfer, &problem)) report_.add_content(index, problem);
        return;
    }
    const std::vector<vk61::FirmwareTarget> targets = firmware_targets_from_log(lines);
    if (success) {
        if (targets.size() != rig_.uids().size()) {
            report_.add_partial_targets(
                index, std::to_string(targets.size()) + " of " + std::to_string(rig_.uids().size()) + " units updated");
        }
        bool moved = false;
        for (const vk61::FirmwareTarget& t : targets) {
            const auto status = bus.unit_status(t.uid);
            moved = moved || !status || status->firmware_address != t.write_address;
        }
        if (moved) report_.add_moved_success();
        if (!firmware_in_flash(bus, targets, transfer, &problem)) report_.add_content(index, problem);
        return;
    }
    if (header_step_reached(result)) return;
    // Also where the units' own addresses are, whatever the prepare replies said.
    std::vector<vk61::FirmwareTarget> places = targets;
    for (std::uint8_t uid : rig_.uids()) {
        if (const auto status = bus.unit_status(uid)) places.push_back({uid, status->firmware_address});
    }
    if (!header_absent(bus, places, transfer, &problem)) report_.add_content(index, problem);
}

void SoakSession::check_ready(unsigned index, std::chrono::milliseconds reboot_duration,
                              const std::vector<PlannedFault>& faults) {
    std::string problem;
    if (!rig_.recover(kReplugLimit, reboot_duration + 3000ms, &problem)) {
        report_.add_not_ready(index, problem);
        std::fprintf(out_, "op %u: %s; plugging the cable in and trying once more\n", index, problem.c_str());
        vhid::plug_cable();
        if (!rig_.recover(kReplugLimit, reboot_duration + 3000ms, &problem)) {
            abort_run(index, ("the engine did not recover: " + problem).c_str(), faults);
        }
    }
    const auto setting = static_cast<std::uint8_t>(random_.between(0, kHighestSettingIndex));
    if (rig_.setting_read_answers(setting, kSettingReadWait, &problem)) return;
    // Asked once more with time to spare: an engine that still does not
    // answer is not ready; one that answers was slow, which counts only when
    // the machine was not to blame.
    std::string second;
    const bool answered = rig_.setting_read_answers(setting, kSettingReadRetryWait, &second);
    const std::string what = problem + (answered ? "; answered when asked again" : "; again: " + second) +
                             " (held off the CPU up to " + std::to_string(stalls_.longest_stall().count()) + " ms)";
    if (answered && starved()) {
        report_.add_excused(index, what);
    } else {
        report_.add_not_ready(index, what);
    }
}

void SoakSession::run_operation(unsigned index) {
    const TransferKind kind = random_.percent(50) ? TransferKind::FirmwareUpdate : TransferKind::AirportUpload;
    Transfer transfer = make_transfer(kind);
    const bool airport = kind == TransferKind::AirportUpload;
    if (airport) transfer.together = options_.units > 1 && random_.percent(kTogetherPercent);
    const std::vector<PlannedFault> faults = planner_.plan(
        transfer, static_cast<unsigned>(random_.between(0, options_.max_faults)), expected_duration(transfer));
    const auto count = static_cast<unsigned>(faults.size());
    for (const PlannedFault& f : faults) {
        if (f.addresses) set_total_size(transfer, f.addresses->total_size);
    }
    const std::string path = write_file(transfer);

    std::chrono::milliseconds reboot_duration = kDefaultReboot;
    unsigned sim_faults = 0;
    std::chrono::milliseconds longest_delay{0};
    for (const PlannedFault& f : faults) {
        report_.add_fault(f.kind);
        if (f.reboot) reboot_duration = f.reboot->duration;
        if (f.kind == SoakFaultKind::Delay)
            longest_delay = std::max(longest_delay, std::chrono::milliseconds(f.sim_fault->value));
    }
    sim::Installation& bus = rig_.bus();
    bus.set_reboot_duration(reboot_duration);
    const bool carry_over = Clock::now() < late_replies_until_;
    const std::size_t unerased_before = rig_.unerased_writes();
    const std::size_t open_db_before = rig_.open_db_writes();

    const std::size_t breaches_before = report_.breach_count();
    begin_operation();
    stalls_.reset();
    std::vector<vk61::FirmwareTarget> usual_addresses;
    for (const PlannedFault& f : faults) {
        if (!f.addresses) continue;
        for (const vk61::FirmwareTarget& moved : f.addresses->addresses) {
            if (const auto status = bus.unit_status(moved.uid))
                usual_addresses.push_back({moved.uid, status->firmware_address});
            bus.set_firmware_address(moved.uid, moved.write_address);
        }
    }
    for (const PlannedFault& f : faults) {
        if (!f.sim_fault) continue;
        bus.add_fault(*f.sim_fault);
        ++sim_faults;
    }
    std::optional<AirportRequest> request;
    std::vector<vk61::DeviceInfo> units;
    if (airport) {
        // The counts of work done twice and the host frames then cover this
        // upload and its resume only.
        bus.forget_flash_history();
        bus.clear_host_frames();
        vk61::remove_airport_record(record_path());
        units = airport_units();
        request = AirportRequest{units, !transfer.together, {}, record_path()};
        report_.add_airport_upload(transfer.together);
    }
    const std::chrono::milliseconds bound = time_out_bound(transfer, faults);
    const OperationRun run =
        runner_.run(kind, path, rig_.uids(), reboot_interference(faults), 2 * bound + kWatchdogMargin, request);
    if (!run.returned) {
        report_.add_hang(index, std::string(transfer_kind_name(kind)) + " still running after " +
                                    std::to_string(run.took.count()) + " ms");
        abort_run(index, "watchdog: the operation did not return", faults);
    }
    const auto spent = static_cast<unsigned>(sim_faults - std::min<std::size_t>(sim_faults, bus.armed_faults()));
    report_.add_sim_faults(sim_faults, spent);
    if (run.interfered) report_.add_reboot_sent();
    late_replies_until_ = std::max(late_replies_until_, Clock::now() + longest_delay);

    const std::vector<std::string> lines = log_.lines();
    const Outcome outcome = classify_outcome(kind, run.success, lines);
    const std::chrono::milliseconds stall = stalls_.longest_stall();
    const bool held_off = starved();
    report_.add_stall(stall, held_off);
    report_.add_operation(kind, count, run.success, run.took, bound);
    if (count == 0) {
        report_.add_fault_free(run.success, carry_over, held_off);
        if (!run.success && !carry_over) {
            if (held_off) {
                report_.add_excused(
                    index, "failed without a fault, held off the CPU up to " + std::to_string(stall.count()) + " ms");
            }
            print_longest_silence(index);
        }
    }
    if (run.took > bound) {
        const std::string what = std::to_string(run.took.count()) + " ms against a bound of " +
                                 std::to_string(bound.count()) + " ms (held off the CPU up to " +
                                 std::to_string(stall.count()) + " ms); faults: " + fault_texts(faults);
        if (held_off) {
            report_.add_excused(index, "outlasted its bound: " + what);
        } else {
            report_.add_overrun(index, what);
        }
    }
    // The worker's result must agree with its own word, and a failure must
    // name its step and reason.
    const std::string key = failure_key(run.result);
    if (run.success != run.result.ok() || (!run.success && key.empty())) {
        report_.add_unclassified(index, std::string(transfer_kind_name(kind)) + " " +
                                            (run.success ? "succeeded" : "failed") + " with result \"" +
                                            vk61::describe(run.result) + "\"; faults: " + fault_texts(faults));
    } else if (!run.success) {
        report_.add_failure(key, outcome.cause_line);
    }
    check_flash(index, transfer, run.success, run.result, lines);
    if (airport) check_airport_units(index, transfer, run, outcome, {});
    for (const vk61::FirmwareTarget& usual : usual_addresses) bus.set_firmware_address(usual.uid, usual.write_address);
    check_ready(index, reboot_duration, faults);
    bool rebooted =
        std::any_of(faults.begin(), faults.end(), [](const PlannedFault& f) { return f.reboot.has_value(); });
    const char* how = !airport ? "" : transfer.together ? " together" : " one at a time";
    if (!options_.quiet) {
        std::fprintf(out_, "op %u %s%s %zu B | %s | %s%s%s | %lld ms%s\n", index, transfer_kind_name(kind), how,
                     transfer.body.size(), fault_texts(faults).c_str(),
                     run.success ? "success" : vk61::describe(run.result).c_str(),
                     outcome.cause_line.empty() || run.success ? "" : " <- ",
                     run.success ? "" : outcome.cause_line.c_str(), static_cast<long long>(run.took.count()),
                     held_off ? (" | held off the CPU " + std::to_string(stall.count()) + " ms").c_str() : "");
        std::fflush(out_);
    }
    if (airport && !run.success && random_.percent(kResumePercent)) {
        rebooted = resume_airport_upload(index, transfer, units) || rebooted;
    }

    if (rig_.unerased_writes() > unerased_before) {
        report_.add_unerased(index, rig_.unerased_detail() + "faults: " + fault_texts(faults));
    }
    // A reboot opens the database again by itself; without one, an airport
    // upload must never touch the flash while the unit uses its database.
    if (kind == TransferKind::AirportUpload && !rebooted && rig_.open_db_writes() > open_db_before) {
        report_.add_open_db_write(
            index, std::to_string(rig_.open_db_writes() - open_db_before) + " writes; faults: " + fault_texts(faults));
    }
    if (report_.breach_count() > breaches_before) keep_trace(index);
}

std::vector<vk61::DeviceInfo> SoakSession::airport_units() {
    std::vector<vk61::DeviceInfo> known = rig_.comms().device_snapshot();
    std::vector<vk61::DeviceInfo> out;
    for (const std::uint8_t uid : rig_.uids()) {
        const auto it =
            std::find_if(known.begin(), known.end(), [uid](const vk61::DeviceInfo& d) { return d.uid == uid; });
        vk61::DeviceInfo unit = it != known.end() ? *it : vk61::DeviceInfo{};
        unit.uid = uid;
        out.push_back(unit);
    }
    return out;
}

QString SoakSession::record_path() const { return QString::fromStdString((dir_ / "airport-upload.json").string()); }

void SoakSession::check_airport_units(unsigned index, const Transfer& transfer, const OperationRun& run,
                                      const Outcome& outcome, const std::vector<std::uint8_t>& already_done) {
    const sim::Installation& bus = rig_.bus();
    std::vector<unsigned> opened_now;
    for (const vk61::AirportUnitOutcome& unit : run.airport.units) {
        const std::string who = "UID " + std::to_string(unit.uid);
        if (unit.holds_new) {
            const auto status = bus.unit_status(unit.uid);
            if (bus.flash_bytes(unit.uid, 0, transfer.body.size()) != transfer.body) {
                report_.add_unit_outcome(index, who + " is said to hold the database but its flash differs");
            } else if (!status || !status->db_open) {
                report_.add_unit_outcome(index, who + " is said to hold the database but has it closed");
            }
            if (std::find(already_done.begin(), already_done.end(), unit.uid) == already_done.end()) {
                opened_now.push_back(unit.uid);
            }
            continue;
        }
        if (unit.failure.step == vk61::OperationStep::OpenDatabase) continue;  // refused or unanswered open
        for (const vk61::BusFrame& f : frames_to(bus, 0x450, unit.uid)) {
            if (f.payload_size() > 0 && f.data()[0] == vk61::protocol::kOpenAirportDb) {
                report_.add_unit_outcome(
                    index, who + " failed (" + vk61::describe(unit.failure) + ") yet received the open command");
                break;
            }
        }
    }
    std::vector<unsigned> logged = outcome.completed;
    std::sort(logged.begin(), logged.end());
    std::sort(opened_now.begin(), opened_now.end());
    if (logged != opened_now) {
        report_.add_unit_outcome(index,
                                 "the log says " + uid_list(logged) + " completed, the result " + uid_list(opened_now));
    }
    for (const unsigned uid : outcome.dropped) {
        if (std::find(opened_now.begin(), opened_now.end(), uid) != opened_now.end()) {
            report_.add_unit_outcome(index,
                                     "UID " + std::to_string(uid) + " dropped out yet is said to hold the database");
        }
    }
}

bool SoakSession::resume_airport_upload(unsigned index, const Transfer& transfer,
                                        const std::vector<vk61::DeviceInfo>& units) {
    const vk61::ResumeOffer offer =
        vk61::check_airport_resume(record_path(), sha256_hex(transfer.body), transfer.body.size(), units);
    if (offer.verdict != vk61::ResumeVerdict::Resumable) {
        report_.add_resume(false, false, false);
        // Fresh: the upload stopped before any unit confirmed anything. Any
        // other verdict means the record of the upload just run is wrong.
        if (offer.verdict != vk61::ResumeVerdict::Fresh) {
            report_.add_resume_breach(index,
                                      "the record of the failed upload was not offered: " + offer.text.toStdString());
        }
        if (!options_.quiet)
            std::fprintf(out_, "op %u resume: nothing to resume (%s)\n", index, offer.text.toStdString().c_str());
        return false;
    }

    Transfer resumed = transfer;
    resumed.together = true;
    const std::vector<PlannedFault> faults = planner_.plan(
        resumed, static_cast<unsigned>(random_.between(0, options_.max_faults)), expected_duration(resumed));
    std::chrono::milliseconds reboot_duration = kDefaultReboot;
    std::chrono::milliseconds longest_delay{0};
    sim::Installation& bus = rig_.bus();
    for (const PlannedFault& f : faults) {
        report_.add_fault(f.kind);
        if (f.reboot) reboot_duration = f.reboot->duration;
        if (f.kind == SoakFaultKind::Delay)
            longest_delay = std::max(longest_delay, std::chrono::milliseconds(f.sim_fault->value));
    }
    const bool rebooted =
        std::any_of(faults.begin(), faults.end(), [](const PlannedFault& f) { return f.reboot.has_value(); });
    bus.set_reboot_duration(reboot_duration);
    // What each unit had done twice before the resume began.
    std::vector<sim::FlashFaults> before;
    std::vector<std::uint8_t> already_done;
    for (const vk61::AirportUnitProgress& p : offer.progress) {
        before.push_back(bus.unit_status(p.uid).value_or(sim::UnitStatus{}).flash_faults);
        if (p.done) already_done.push_back(p.uid);
    }
    bus.clear_host_frames();
    log_.begin_operation();
    stalls_.reset();
    unsigned sim_faults = 0;
    for (const PlannedFault& f : faults) {
        if (!f.sim_fault) continue;
        bus.add_fault(*f.sim_fault);
        ++sim_faults;
    }
    const std::chrono::milliseconds bound = time_out_bound(resumed, faults);
    const OperationRun run =
        runner_.run(TransferKind::AirportUpload, write_file(transfer), rig_.uids(), reboot_interference(faults),
                    2 * bound + kWatchdogMargin, AirportRequest{units, false, offer.progress, record_path()});
    if (!run.returned) {
        report_.add_hang(index,
                         "resumed airport upload still running after " + std::to_string(run.took.count()) + " ms");
        abort_run(index, "watchdog: the resumed upload did not return", faults);
    }
    report_.add_sim_faults(sim_faults,
                           static_cast<unsigned>(sim_faults - std::min<std::size_t>(sim_faults, bus.armed_faults())));
    if (run.interfered) report_.add_reboot_sent();
    late_replies_until_ = std::max(late_replies_until_, Clock::now() + longest_delay);
    report_.add_resume(true, true, run.success);

    const std::vector<std::string> lines = log_.lines();
    const Outcome outcome = classify_outcome(TransferKind::AirportUpload, run.success, lines);
    if (run.took > bound) {
        const std::string what = "resume took " + std::to_string(run.took.count()) + " ms against a bound of " +
                                 std::to_string(bound.count()) + " ms; faults: " + fault_texts(faults);
        if (starved()) {
            report_.add_excused(index, what);
        } else {
            report_.add_overrun(index, what);
        }
    }
    const std::string key = failure_key(run.result);
    if (run.success != run.result.ok() || (!run.success && key.empty())) {
        report_.add_unclassified(index, "resumed airport upload " + std::string(run.success ? "succeeded" : "failed") +
                                            " with result \"" + vk61::describe(run.result) +
                                            "\"; faults: " + fault_texts(faults));
    } else if (!run.success) {
        report_.add_failure(key, outcome.cause_line);
    }
    check_flash(index, transfer, run.success, run.result, lines);
    check_airport_units(index, transfer, run, outcome, already_done);

    // Work done twice: a block the record says a unit erased must not be
    // erased again (at most the blocks it did not confirm may be, once
    // each), and at most one chunk per unit is written again (the resume
    // starts units a chunk apart together at the lower offset). A reboot
    // sends a unit's writes back to address 0, so the chunk count is not
    // held to then.
    const std::uint32_t blocks = resumed.blocks_per_unit();
    for (std::size_t i = 0; i < offer.progress.size(); ++i) {
        const vk61::AirportUnitProgress& p = offer.progress[i];
        const std::string who = "UID " + std::to_string(p.uid);
        for (const vk61::BusFrame& f : frames_to(bus, 0x430, p.uid)) {
            if (f.payload_size() < 6 || f.data()[0] != vk61::protocol::kFlashOpEraseBlock) continue;
            const auto block = static_cast<std::uint16_t>(vk61::get_u16(f.data() + 4));
            if (std::binary_search(p.erased.begin(), p.erased.end(), block)) {
                report_.add_resume_breach(index, who + ": block " + std::to_string(block) +
                                                     " erased again although the record has it erased");
            }
        }
        const sim::FlashFaults after = bus.unit_status(p.uid).value_or(sim::UnitStatus{}).flash_faults;
        const std::size_t erased_again = after.repeated_erases - before[i].repeated_erases;
        const std::size_t unconfirmed = blocks - std::min<std::size_t>(blocks, p.erased.size());
        if (erased_again > unconfirmed) {
            report_.add_resume_breach(index, who + ": " + std::to_string(erased_again) + " blocks erased again, " +
                                                 std::to_string(unconfirmed) + " unconfirmed");
        }
        const std::size_t written_again = after.chunks_written_again - before[i].chunks_written_again;
        if (written_again > 1 && !rebooted) {
            report_.add_resume_breach(index, who + ": " + std::to_string(written_again) +
                                                 " chunks written again (confirmed up to " + std::to_string(p.written) +
                                                 " bytes); faults: " + fault_texts(faults));
        }
    }
    check_ready(index, reboot_duration, faults);
    if (!options_.quiet) {
        std::fprintf(out_, "op %u resume %zu B | %s | %s%s%s | %lld ms\n", index, transfer.body.size(),
                     fault_texts(faults).c_str(), run.success ? "success" : vk61::describe(run.result).c_str(),
                     outcome.cause_line.empty() || run.success ? "" : " <- ",
                     run.success ? "" : outcome.cause_line.c_str(), static_cast<long long>(run.took.count()));
        std::fflush(out_);
    }
    return rebooted;
}

void SoakSession::check_disconnect_during_transfer() {
    const Transfer transfer = make_transfer(TransferKind::AirportUpload);
    const std::chrono::milliseconds expected = expected_duration(transfer);
    auto disconnected_at = std::make_shared<std::atomic<Clock::rep>>(0);
    vk61::CommsManager& comms = rig_.comms();
    Interference interference;
    interference.after = std::max(std::chrono::milliseconds(20), expected / 4);
    interference.action = [&comms, disconnected_at] {
        disconnected_at->store(Clock::now().time_since_epoch().count());
        comms.disconnect();
    };
    begin_operation();
    const OperationRun run =
        runner_.run(TransferKind::AirportUpload, write_file(transfer), rig_.uids(), interference, 30s);
    if (!run.returned) {
        report_.add_hang(options_.operations, "upload still running 30 s after it started, disconnect() called");
        abort_run(options_.operations, "watchdog: disconnect() did not end the transfer", {});
    }
    const auto after = run.interfered ? std::chrono::duration_cast<std::chrono::milliseconds>(
                                            Clock::now().time_since_epoch() - Clock::duration(disconnected_at->load()))
                                      : std::chrono::milliseconds(0);
    std::fprintf(out_, "disconnect during an airport upload of %zu B after %lld ms: %s, returned %s\n",
                 transfer.body.size(), static_cast<long long>(interference.after.count()),
                 run.interfered ? "called" : "not reached (the upload ended first)",
                 run.success ? "success" : "failure");
    report_.add_shutdown(true, after);
}

void SoakSession::print_longest_silence(unsigned index) const {
    const std::vector<EngineLog::Stamped> lines = log_.stamped_lines();
    if (lines.size() < 2) return;
    std::size_t after = 1;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].first - lines[i - 1].first > lines[after].first - lines[after - 1].first) after = i;
    }
    const auto from = lines[after - 1].first;
    const auto to = lines[after].first;
    const auto ms = [&](Clock::time_point t) { return std::chrono::duration<double, std::milli>(t - from).count(); };
    std::fprintf(out_, "op %u without faults: longest silence of the engine %.1f ms\n", index, ms(to));
    for (std::size_t i = after >= 4 ? after - 4 : 0; i < lines.size() && i < after + 3; ++i) {
        std::fprintf(out_, "    %9.3f ms  %s", ms(lines[i].first), lines[i].second.c_str());
    }
    for (const sim::HostFrame& f : rig_.bus().host_frames()) {
        if (f.at + 5ms < from || f.at > to) continue;
        std::fprintf(out_, "    %9.3f ms  host frame 0x%03X dlc %u\n", ms(f.at), f.frame.identifier() & 0x7FFu,
                     unsigned{f.frame.dlc()});
    }
}

void SoakSession::begin_operation() {
    log_.begin_operation();
    trace_.begin_operation();
}

void SoakSession::keep_trace(unsigned index) {
    const std::filesystem::path path =
        std::filesystem::path(options_.trace_dir) /
        ("vk61-soak-seed" + std::to_string(options_.seed) + "-op" + std::to_string(index) + ".pcap");
    std::string error;
    if (const std::optional<std::size_t> frames = trace_.write(path.string(), &error)) {
        report_.add_trace(index, path.string() + " (" + std::to_string(*frames) + " frames)");
    } else {
        report_.add_trace(index, "no trace: " + error);
    }
}

void SoakSession::abort_run(unsigned index, const char* why, const std::vector<PlannedFault>& faults) {
    std::fprintf(out_, "\n**** op %u: %s\n**** faults: %s\n**** last engine lines:\n", index, why,
                 fault_texts(faults).c_str());
    const std::vector<std::string> lines = log_.lines();
    const std::size_t from = lines.size() > kLastLinesShown ? lines.size() - kLastLinesShown : 0;
    for (std::size_t i = from; i < lines.size(); ++i) std::fprintf(out_, "     %s", lines[i].c_str());
    report_.set_final_unerased(rig_.unerased_writes());
    keep_trace(index);
    report_.print(out_);
    std::fflush(out_);
    std::fflush(stdout);
    // A thread is stuck inside the engine: nothing can be joined or torn down.
    std::_Exit(3);
}

int SoakSession::run() {
    const auto start = Clock::now();
    const TransferTimeouts& t = options_.timeouts;
    std::fprintf(out_,
                 "vk61 fault soak: seed %llu, %u operations, %u units, 0-%u faults each, reply latency %u us\n"
                 "time-outs: prepare %u ms, erase run %u ms, each write echo %u ms, database acks 5000 ms (fixed)\n",
                 static_cast<unsigned long long>(options_.seed), options_.operations, options_.units,
                 options_.max_faults, options_.latency_us, t.prepare_ms, t.erase_ms, t.write_ms);
    if (!options_.kinds.empty()) {
        std::fprintf(out_, "fault kinds drawn:");
        for (const SoakFaultKind kind : options_.kinds) std::fprintf(out_, " %s;", fault_kind_name(kind));
        std::fprintf(out_, "\n");
    }
    std::string problem;
    if (!rig_.connect(&problem)) {
        std::fprintf(out_, "set-up failed: %s\n", problem.c_str());
        return 2;
    }
    rig_.fill_transfer_areas(kAirportArea, kFirmwareArea);
    if (!run_baseline(&problem)) {
        std::fprintf(out_, "baseline failed: %s\n", problem.c_str());
        return 2;
    }
    for (unsigned i = 1; i <= options_.operations; ++i) run_operation(i);
    check_disconnect_during_transfer();

    const ProgressProbe& progress = runner_.progress();
    report_.add_progress(progress.calls(), progress.bad_values(), progress.late_calls());
    report_.set_final_unerased(rig_.unerased_writes());
    report_.set_total_time(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start));
    report_.print(out_);
    return report_.passed() ? 0 : 1;
}

}  // namespace soak
