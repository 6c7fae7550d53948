// Hooks for the test suite only: they shorten waits that the product fixes.
// The product never calls them; the application has no option or
// environment variable for these values.
#pragma once

// Delay before the first check after a reboot command (product: 3000 ms)
// and between the later checks (product: 1000 ms). Values <= 0 restore them.
void setRebootWaitIntervalsForTesting(int first_check_ms, int next_check_ms);

// Delay between a successful connection and the first configuration load
// (product: 1500 ms). A value <= 0 restores it.
void setInitialLoadDelayForTesting(int delay_ms);
