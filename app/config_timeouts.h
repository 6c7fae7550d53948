// Time-outs of the configuration exchanges (load, update, save). The product
// uses the defaults; only the test suite shortens them, through the hook
// below, so that a unit that never answers does not cost seconds per read.
#pragma once

struct ConfigTimeouts {
    unsigned read_ms = 500;    // each setting read, header words included
    unsigned write_ms = 1000;  // each setting write
    unsigned store_ms = 5000;  // the store to EEPROM
};

const ConfigTimeouts& configTimeouts();

// Test hook; the product never calls it. A default-constructed argument
// restores the product's values.
void setConfigTimeoutsForTesting(const ConfigTimeouts& timeouts);
