#include "operation_result.h"

namespace vk61 {

const char* reason_text(FailureReason reason) {
    switch (reason) {
    case FailureReason::None: return "no failure";
    case FailureReason::NotConnected: return "not connected";
    case FailureReason::NoInterface: return "no USB HID or CAN FD interface could be opened";
    case FailureReason::InvalidRequest: return "nothing the units can carry out";
    case FailureReason::FileUnreadable: return "file could not be read";
    case FailureReason::FileTooLarge: return "file too large";
    case FailureReason::FileIncomplete: return "file shorter than its header says";
    case FailureReason::ImageOutsideErase: return "image outside the erased space";
    case FailureReason::EmptyImage: return "no image in the file";
    case FailureReason::SendFailed: return "command could not be sent";
    case FailureReason::TimedOut: return "timed out";
    case FailureReason::Refused: return "refused by the unit";
    case FailureReason::InvalidStatus: return "invalid status from the unit";
    case FailureReason::UnexpectedOperation: return "unexpected reply";
    case FailureReason::AddressMismatch: return "address mismatch";
    case FailureReason::LinkLost: return "link lost";
    case FailureReason::Disconnected: return "disconnected";
    }
    return "unknown reason";
}

const char* step_text(OperationStep step) {
    switch (step) {
    case OperationStep::None: return "none";
    case OperationStep::Connect: return "connect";
    case OperationStep::Discover: return "discovery";
    case OperationStep::Reboot: return "reboot";
    case OperationStep::ReadFile: return "reading the file";
    case OperationStep::CheckFile: return "checking the file";
    case OperationStep::Prepare: return "prepare";
    case OperationStep::Erase: return "erase";
    case OperationStep::SetAddress: return "set address";
    case OperationStep::WriteChunk: return "write";
    case OperationStep::SetHeaderAddress: return "set header address";
    case OperationStep::WriteHeader: return "write header";
    case OperationStep::CloseDatabase: return "close database";
    case OperationStep::OpenDatabase: return "open database";
    case OperationStep::ReadSetting: return "read setting";
    case OperationStep::WriteSetting: return "write setting";
    case OperationStep::StoreSettings: return "store settings";
    }
    return "unknown step";
}

std::string describe(const OperationResult& result) {
    if (result.ok()) return "succeeded";
    std::string text = std::string(step_text(result.step)) + " failed";
    if (result.uid != 0) text += " on UID " + std::to_string(result.uid);
    return text + ": " + reason_text(result.reason);
}

}  // namespace vk61
