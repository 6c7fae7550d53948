// The timings and download locations the window runs with. A default-built
// value holds the product's; the demo build and the tests construct the
// window with values of their own, so nothing in the product can be pointed
// elsewhere from outside.
#pragma once

#include "core/config_timeouts.h"
#include "downloads/download_settings.h"

struct WindowSettings {
    // Manifest URL, fetch time-out, retry interval, application folder.
    vk61::DownloadSettings downloads;
    // Reads, writes and stores of the configuration exchanges.
    ConfigTimeouts config_timeouts;
    // Between a successful connection and the first configuration load.
    int initial_load_delay_ms = 1500;
    // After a reboot command: the first check (the units need their 3000 ms)
    // and the later ones.
    int reboot_first_check_ms = 3000;
    int reboot_next_check_ms = 1000;
};
