// The entry both executables share: the application object the downloads
// code needs, Ctrl-C handling, and run_cli on the process's own streams.
#pragma once

#include "downloads/download_settings.h"

namespace vk61::cli {

// application_name picks the per-user cache and backup folders: the CLI
// shares them with the window of the same build.
// downloads: the product's by default; the demo build passes its server's.
int cli_main(int argc, char** argv, const char* program, const char* application_name,
             const DownloadSettings& downloads = {});

}  // namespace vk61::cli
