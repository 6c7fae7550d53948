#include "config_timeouts.h"

namespace {
// Read and written on the GUI thread only.
ConfigTimeouts g_timeouts;
}  // namespace

const ConfigTimeouts& configTimeouts() { return g_timeouts; }

void setConfigTimeoutsForTesting(const ConfigTimeouts& timeouts) { g_timeouts = timeouts; }
