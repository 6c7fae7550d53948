// The exit code of each result the tool sees, chosen in one place.
#pragma once

#include "exit_codes.h"

// ---------------------------------------------------------------------------
// Downloads results (manifest, package files, digests).
// ---------------------------------------------------------------------------

#include "downloads/download_result.h"

namespace vk61::cli {

// kExitOk on success; every download, manifest, file or digest failure is
// kExitDownload, as --help documents.
ExitCode exit_code(const DownloadResult& result);

}  // namespace vk61::cli
