// Texts about a store that both front ends show, so that the window and the
// command-line tool say the same thing about the same outcome.
#pragma once

#include <QString>

#include "core/config_exchange.h"

// After a failed write: what was written back, and which settings' working
// values now differ from what the units stored. "" when the store wrote
// nothing before the failure.
QString writeBackText(const StoreResult& result);

// Why a store is refused while the EFIS holds working values that were never
// stored.
QString unstoredValuesText();
