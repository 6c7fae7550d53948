// The texts the window shows for each result, in one place.
#pragma once

// ---------------------------------------------------------------------------
// Downloads results (manifest, package files, digests).
// ---------------------------------------------------------------------------

#include "downloads/download_result.h"

#include <QString>

namespace vk61 {

// The body of a download's warning dialog (and its log line): the result's
// own sentence, as the command-line tool prints it.
QString downloadFailureText(const DownloadResult& result);

}  // namespace vk61
