// Every result the tool reports maps to one exit code and one message: the
// table pins both for each kind and status, so that a text changed in one
// place, or a status answered with another code, shows here.
#include <gtest/gtest.h>

#include <QString>

#include <functional>

#include "result_exit.h"

namespace clitest {
namespace {

using namespace vk61;
using namespace vk61::cli;

struct Reported {
    int code;
    QString text;
};

template <typename Result>
Reported report(const Result& result) {
    if constexpr (std::is_same_v<decltype(describe(result)), std::string>) {
        return {exit_code(result), QString::fromStdString(describe(result))};
    } else {
        return {exit_code(result), describe(result)};
    }
}

LoadResult loaded(LoadStatus status, std::vector<unsigned> unread = {}) {
    LoadResult result;
    result.status = status;
    result.index = 2;
    result.unread = std::move(unread);
    result.crc_ok = true;
    return result;
}

StoreResult stored(StoreStatus status) {
    StoreResult result;
    result.status = status;
    result.index = 2;
    result.unknown = 4;
    result.crc = 0xABCD;
    result.read_back = 0x1234;
    result.refusal = QStringLiteral("v_s0 must not exceed v_s1");
    return result;
}

UpdateResult updated(UpdateStatus status, int sent, int failed) {
    UpdateResult result;
    result.status = status;
    result.sent = sent;
    result.failed = failed;
    result.refusal = QStringLiteral("v_s0 must not exceed v_s1");
    return result;
}

// UID 1 got the database, UID 2 refused a chunk.
AirportResult airports(bool second_fails) {
    AirportResult result;
    result.units_total = 2;
    result.units_done = second_fails ? 1 : 2;
    result.units = {{1, true, {}}, {2, !second_fails, {}}};
    if (second_fails) {
        result.failed_uid = 2;
        result.failure = OperationResult::failure(OperationStep::WriteChunk, FailureReason::Refused, 2);
        result.units[1].failure = result.failure;
    }
    return result;
}

TransferResult firmware(TransferEnd end, OperationResult failure = {}) {
    TransferResult result;
    result.kind = TransferKind::Firmware;
    result.end = end;
    result.failure = failure;
    return result;
}

TransferResult airport_transfer(bool second_fails) {
    TransferResult result;
    result.kind = TransferKind::AirportDatabase;
    result.airports = airports(second_fails);
    result.failure = result.airports.failure;
    result.end = second_fails ? TransferEnd::Failed : TransferEnd::Done;
    return result;
}

struct Row {
    const char* name;
    std::function<Reported()> report;
    int code;
    const char* text;
};

const char kNotConnected[] = "No communication interface connected (USB HID or CAN FD)";
const char kHeldOnUid1[] =
    "UID 1 holds the new airport database; UID 2 does not (write failed on UID 2: refused by the unit)";

TEST(ResultExit, eachResult_mapsToItsExitCodeAndMessage) {
    const OperationResult timed_out = OperationResult::failure(OperationStep::Erase, FailureReason::TimedOut, 2);
    const Row rows[] = {
        {"operation succeeded", [] { return report(OperationResult::success()); }, kExitOk, "succeeded"},
        {"operation not connected",
         [] { return report(OperationResult::failure(OperationStep::Prepare, FailureReason::NotConnected)); },
         kExitNotConnected, "prepare failed: not connected"},
        {"no interface opened",
         [] { return report(OperationResult::failure(OperationStep::Connect, FailureReason::NoInterface)); },
         kExitNotConnected, "connect failed: no USB HID or CAN FD interface could be opened"},
        {"link opened but not greeted",
         [] { return report(OperationResult::failure(OperationStep::Connect, FailureReason::SendFailed)); },
         kExitNotConnected, "connect failed: command could not be sent"},
        {"reboot not sent",
         [] { return report(OperationResult::failure(OperationStep::Reboot, FailureReason::SendFailed)); },
         kExitBusFailure, "reboot failed: command could not be sent"},
        {"operation file too large",
         [] { return report(OperationResult::failure(OperationStep::CheckFile, FailureReason::FileTooLarge)); },
         kExitBadInput, "checking the file failed: file too large"},
        {"operation timed out", [&] { return report(timed_out); }, kExitBusFailure, "erase failed on UID 2: timed out"},

        {"load not connected", [] { return report(loaded(LoadStatus::NotConnected)); }, kExitNotConnected,
         kNotConnected},
        {"load header unread", [] { return report(loaded(LoadStatus::HeaderUnread)); }, kExitBusFailure,
         "The EFIS did not answer the read of header word 2"},
        {"load header erased", [] { return report(loaded(LoadStatus::HeaderErased)); }, kExitBusFailure,
         "The EFIS holds no stored configuration"},
        {"load cancelled", [] { return report(loaded(LoadStatus::Cancelled)); }, kExitBusFailure, "Interrupted"},
        {"load incomplete", [] { return report(loaded(LoadStatus::Loaded, {2})); }, kExitBusFailure,
         "1 setting(s) could not be read: v_s0"},
        {"load complete", [] { return report(loaded(LoadStatus::Loaded)); }, kExitOk,
         "Configuration successfully loaded from device"},

        {"update not connected", [] { return report(updated(UpdateStatus::NotConnected, 0, 0)); }, kExitNotConnected,
         kNotConnected},
        {"update refused", [] { return report(updated(UpdateStatus::RuleRefused, 0, 0)); }, kExitBadInput,
         "v_s0 must not exceed v_s1. Nothing was sent"},
        {"update nothing pending", [] { return report(updated(UpdateStatus::NothingPending, 0, 0)); }, kExitOk,
         "No changes to send"},
        {"update partly sent", [] { return report(updated(UpdateStatus::Sent, 3, 1)); }, kExitBusFailure,
         "Sent 3 value(s), 1 failed"},
        {"update sent", [] { return report(updated(UpdateStatus::Sent, 3, 0)); }, kExitOk,
         "Successfully sent 3 configuration value(s) to device"},

        {"store saved", [] { return report(stored(StoreStatus::Saved)); }, kExitOk,
         "Configuration saved to EEPROM successfully"},
        {"store not connected", [] { return report(stored(StoreStatus::NotConnected)); }, kExitNotConnected,
         kNotConnected},
        {"store unknown settings", [] { return report(stored(StoreStatus::UnknownSettings)); }, kExitBusFailure,
         "4 setting(s) are unknown; nothing was stored"},
        {"store refused", [] { return report(stored(StoreStatus::RuleRefused)); }, kExitBadInput,
         "v_s0 must not exceed v_s1. Nothing was sent"},
        {"store header unread", [] { return report(stored(StoreStatus::NumElementsUnread)); }, kExitBusFailure,
         "The EFIS did not answer the header reads; nothing was stored"},
        {"store write failed", [] { return report(stored(StoreStatus::WriteFailed)); }, kExitBusFailure,
         "Setting v_s0 was not acknowledged; nothing was stored"},
        {"store not acknowledged", [] { return report(stored(StoreStatus::StoreFailed)); }, kExitBusFailure,
         "The units did not acknowledge the store"},
        {"store checksum unread", [] { return report(stored(StoreStatus::ChecksumUnread)); }, kExitBusFailure,
         "Stored, but the checksum could not be read back"},
        {"store checksum mismatch", [] { return report(stored(StoreStatus::ChecksumMismatch)); }, kExitBusFailure,
         "The EFIS holds checksum 0x00001234, not the 0x0000ABCD that was stored"},

        {"airports done", [] { return report(airports(false)); }, kExitOk, "UID 1, 2 hold the new airport database"},
        {"airports failed", [] { return report(airports(true)); }, kExitBusFailure, kHeldOnUid1},
        {"airport job failed",
         [] {
             return report(AirportJobResult{airports(true), {}});
         },
         kExitBusFailure, kHeldOnUid1},

        {"firmware done", [] { return report(firmware(TransferEnd::Done)); }, kExitOk, "Firmware upload complete"},
        {"firmware failed", [&] { return report(firmware(TransferEnd::Failed, timed_out)); }, kExitBusFailure,
         "the firmware update failed: erase failed on UID 2: timed out"},
        {"firmware unreported", [] { return report(firmware(TransferEnd::Unreported)); }, kExitBusFailure,
         "the firmware update failed: the worker did not report success"},
        {"airport transfer done", [] { return report(airport_transfer(false)); }, kExitOk,
         "Airport database transfer finished on all 2 device(s)"},
        {"airport transfer failed", [] { return report(airport_transfer(true)); }, kExitBusFailure,
         "the airport database transfer failed: UID 1 holds the new airport database; UID 2 does not (write failed "
         "on UID 2: refused by the unit) (1 / 2 succeeded)"},

        // Bits are UIDs: 0b0110 is UID 1 and 2.
        {"reboot not sent", [] { return report(RebootResult::not_sent()); }, kExitBusFailure,
         "Failed to send reboot command"},
        {"reboot any unit back", [] { return report(RebootResult::after_wait(0b0100, 0, false)); }, kExitOk,
         "Device reconnected (UID 2 heard)"},
        {"reboot none back", [] { return report(RebootResult::after_wait(0, 0, false)); }, kExitBusFailure,
         "Devices did not reappear after reboot"},
        {"reboot named units back", [] { return report(RebootResult::after_wait(0b0110, 0b0110, false)); }, kExitOk,
         "Device reconnected (UID 1, 2 heard)"},
        {"reboot one named unit missing", [] { return report(RebootResult::after_wait(0b0010, 0b0110, false)); },
         kExitBusFailure,
         "Not every unit came back after the reboot (UID 2 did not answer); the configuration was not compared"},
        {"trace unwritable",
         [] {
             return report(TraceResult{TraceFailure::CannotWrite, "t.pcap", "No such file or directory"});
         },
         kExitBadInput, "Could not write t.pcap: No such file or directory"},
        {"file not regular",
         [] {
             return report(FileWriteResult{FileWriteFailure::NotRegularFile, "/dev/full", {}});
         },
         kExitBadInput, "Could not write /dev/full: it exists and is not a regular file"},
        {"reboot stopped", [] { return report(RebootResult::after_wait(0b0010, 0b0110, true)); }, kExitBusFailure,
         "Waiting for the units after the reboot was cancelled"},
    };
    for (const Row& row : rows) {
        const Reported reported = row.report();
        EXPECT_EQ(reported.code, row.code) << row.name;
        EXPECT_EQ(reported.text.toStdString(), row.text) << row.name;
    }
}

}  // namespace
}  // namespace clitest
