// How an engine operation ended: success, or the step that failed, the unit
// concerned and why, from a closed list. The window, the soak and the
// command-line tool read these values; the engine's log lines tell the same
// story in more detail, for people.
#pragma once

#include <cstdint>
#include <string>

namespace vk61 {

// The step of an operation that failed.
enum class OperationStep : std::uint8_t {
    None,              // the operation succeeded
    Connect,           // opening a link and greeting the bus on it
    Discover,          // asking every unit on the bus to announce itself
    Reboot,            // broadcasting the reboot command
    ReadFile,          // opening, sizing or reading the file to send
    CheckFile,         // the file as read cannot be sent as it stands
    Prepare,           // asking every unit for its firmware write address
    Erase,             // erasing the flash blocks the transfer needs
    SetAddress,        // setting the start address of the image or data
    WriteChunk,        // writing the image or data chunk by chunk
    SetHeaderAddress,  // setting the address of the firmware header
    WriteHeader,       // writing the firmware header, last
    CloseDatabase,     // closing a unit's airport database before the erase
    OpenDatabase,      // opening it again after the write
    ReadSetting,
    WriteSetting,
    StoreSettings,
};

// Why it failed.
enum class FailureReason : std::uint8_t {
    None,
    NotConnected,         // no link when the operation began
    NoInterface,          // neither the USB bridge nor the CAN FD interface opened
    InvalidRequest,       // nothing to do, or more than the units can hold
    FileUnreadable,       // the file could not be opened, sized or read
    FileTooLarge,         // larger than the units' space for it
    FileIncomplete,       // shorter than its header says
    ImageOutsideErase,    // the image would lie outside the space erased for it
    EmptyImage,           // the header announces no image
    SendFailed,           // a command could not be sent
    TimedOut,             // a unit did not answer in time
    Refused,              // a unit refused the command (NACK, failure status)
    InvalidStatus,        // a unit answered with a status that means neither
    UnexpectedOperation,  // a unit's reply names another operation
    AddressMismatch,      // a unit's reply names another address
    LinkLost,             // the link dropped while the operation waited
    Disconnected,         // the manager disconnected during the operation
};

struct OperationResult {
    OperationStep step = OperationStep::None;
    FailureReason reason = FailureReason::None;
    std::uint8_t uid = 0;  // the unit concerned; 0 when no single unit is

    static OperationResult success() { return {}; }
    static OperationResult failure(OperationStep step, FailureReason reason, std::uint8_t uid = 0) {
        return {step, reason, uid};
    }

    bool ok() const { return reason == FailureReason::None; }
    explicit operator bool() const { return ok(); }
    friend bool operator==(const OperationResult&, const OperationResult&) = default;
};

// Short English texts: "timed out", "erase", and the whole result as
// "erase failed on UID 2: timed out" (or "succeeded").
const char* reason_text(FailureReason reason);
const char* step_text(OperationStep step);
std::string describe(const OperationResult& result);

}  // namespace vk61
