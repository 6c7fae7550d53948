#include "result_exit.h"

// ---------------------------------------------------------------------------
// Downloads results (manifest, package files, digests).
// ---------------------------------------------------------------------------

namespace vk61::cli {

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
