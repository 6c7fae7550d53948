// The timings and download locations the window runs with. A default-built
// value holds the product's; the demo build and the tests construct the
// window with values of their own, so nothing in the product can be pointed
// elsewhere from outside.
#pragma once

#include "core/config_timeouts.h"
#include "core/reboot_wait.h"
#include "downloads/download_settings.h"

namespace vk61 {

class FrameRecorder;

struct WindowSettings {
    // Manifest URL, fetch time-out, retry interval, application folder.
    vk61::DownloadSettings downloads;
    // Reads, writes and stores of the configuration exchanges.
    ConfigTimeouts config_timeouts;
    // Between a successful connection and the first configuration load.
    int initial_load_delay_ms = 1500;
    // After a reboot command: when the units are checked for.
    RebootWaitTimings reboot;
    // --trace: records every frame of the bus connection (null: none); must
    // outlive the window.
    vk61::FrameRecorder* frame_recorder = nullptr;
};

}  // namespace vk61
