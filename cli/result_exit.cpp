#include "result_exit.h"

namespace vk61::cli {

ExitCode exit_code(const OperationResult& result) {
    // No link could be set up, whatever stopped it: nothing reached a unit.
    if (result.step == OperationStep::Connect && !result.ok()) return kExitNotConnected;
    switch (result.reason) {
    case FailureReason::None: return kExitOk;
    case FailureReason::NotConnected:
    case FailureReason::NoInterface: return kExitNotConnected;
    // The request or the file was refused before anything went to a unit.
    case FailureReason::InvalidRequest:
    case FailureReason::FileUnreadable:
    case FailureReason::FileTooLarge:
    case FailureReason::FileIncomplete:
    case FailureReason::ImageOutsideErase:
    case FailureReason::EmptyImage: return kExitBadInput;
    case FailureReason::SendFailed:
    case FailureReason::TimedOut:
    case FailureReason::Refused:
    case FailureReason::InvalidStatus:
    case FailureReason::UnexpectedOperation:
    case FailureReason::AddressMismatch:
    case FailureReason::LinkLost:
    case FailureReason::Disconnected: return kExitBusFailure;
    }
    return kExitBusFailure;
}

ExitCode exit_code(const LoadResult& result) {
    if (result.ok()) return kExitOk;
    return result.status == LoadStatus::NotConnected ? kExitNotConnected : kExitBusFailure;
}

ExitCode exit_code(const UpdateResult& result) {
    if (result.ok()) return kExitOk;
    switch (result.status) {
    case UpdateStatus::NotConnected: return kExitNotConnected;
    case UpdateStatus::RuleRefused: return kExitBadInput;
    case UpdateStatus::NothingPending:
    case UpdateStatus::Sent: break;
    }
    return kExitBusFailure;
}

ExitCode exit_code(const StoreResult& result) {
    switch (result.status) {
    case StoreStatus::Saved: return kExitOk;
    case StoreStatus::NotConnected: return kExitNotConnected;
    case StoreStatus::RuleRefused: return kExitBadInput;
    // Unknown settings are the load's failure, not the user's input: the
    // tool has always answered them as a bus failure.
    case StoreStatus::NoDeviceChanges:
    case StoreStatus::UnknownSettings:
    case StoreStatus::MemoryVersionUnread:
    case StoreStatus::NumElementsUnread:
    case StoreStatus::WriteFailed:
    case StoreStatus::StoreFailed:
    case StoreStatus::ChecksumUnread:
    case StoreStatus::ChecksumMismatch: break;
    }
    return kExitBusFailure;
}

ExitCode exit_code(const AirportResult& result) { return result.ok() ? kExitOk : kExitBusFailure; }

ExitCode exit_code(const AirportJobResult& result) { return exit_code(result.result); }

ExitCode exit_code(const TransferResult& result) { return result.ok() ? kExitOk : kExitBusFailure; }

ExitCode exit_code(const RebootResult& result) { return result.ok() ? kExitOk : kExitBusFailure; }

ExitCode exit_code(const TraceResult& result) { return result.ok() ? kExitOk : kExitBadInput; }

ExitCode exit_code(const FileWriteResult& result) { return result.ok() ? kExitOk : kExitBadInput; }

namespace {

// Called for a file that cannot be sent.
ExitCode file_exit_code(TransferFileProblem problem) {
    switch (problem) {
    case TransferFileProblem::DigestMismatch: return kExitDownload;
    case TransferFileProblem::None:
    case TransferFileProblem::Missing:
    case TransferFileProblem::Unreadable:
    case TransferFileProblem::Empty:
    case TransferFileProblem::TooLarge: break;
    }
    return kExitBadInput;
}

}  // namespace

ExitCode exit_code(const LoadedFirmware& loaded) { return loaded.ok() ? kExitOk : file_exit_code(loaded.problem); }

ExitCode exit_code(const LoadedDatabase& loaded) { return loaded.ok() ? kExitOk : file_exit_code(loaded.problem); }

ExitCode exit_code(const DownloadResult& result) {
    switch (result.failure) {
    case DownloadFailure::None: return kExitOk;
    case DownloadFailure::BadAddress:
    case DownloadFailure::BadRedirect:
    case DownloadFailure::InsecureRedirect:
    case DownloadFailure::HttpStatus:
    case DownloadFailure::Network:
    case DownloadFailure::TimedOut:
    case DownloadFailure::TooLarge:
    case DownloadFailure::Truncated:
    case DownloadFailure::EmptyDownload:
    case DownloadFailure::EmptyManifest:
    case DownloadFailure::NoDigest:
    case DownloadFailure::EntryWithoutDigest:
    case DownloadFailure::DigestMismatch:
    case DownloadFailure::FileTooLarge:
    case DownloadFailure::FileUnreadable:
    case DownloadFailure::FileReadFailed:
    case DownloadFailure::FileWrite:
    case DownloadFailure::FileIncomplete:
    case DownloadFailure::FileRefused:
    case DownloadFailure::ManifestUnreadable:
    case DownloadFailure::ManifestTooLarge:
    case DownloadFailure::ManifestRefused:
    case DownloadFailure::InvalidJson:
    case DownloadFailure::BadManifest:
    case DownloadFailure::ReservedFileName:
    case DownloadFailure::SharedFileName:
    case DownloadFailure::NoFileName:
    case DownloadFailure::NotAvailable:
        // Nothing was sent to a unit; the package or its proof is what failed.
        return kExitDownload;
    }
    return kExitDownload;
}

}  // namespace vk61::cli
