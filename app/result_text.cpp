#include "result_text.h"

// ---------------------------------------------------------------------------
// Downloads results (manifest, package files, digests).
// ---------------------------------------------------------------------------

namespace vk61 {

QString downloadFailureText(const DownloadResult& result) { return describe(result); }

}  // namespace vk61
