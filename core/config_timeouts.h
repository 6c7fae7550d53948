// Time-outs of the configuration exchanges (load, update, save). The product
// uses the defaults; the window takes them from its WindowSettings.
#pragma once

struct ConfigTimeouts {
    unsigned read_ms = 500;    // each setting read, header words included
    unsigned write_ms = 1000;  // each setting write
    unsigned store_ms = 5000;  // the store to EEPROM
};
