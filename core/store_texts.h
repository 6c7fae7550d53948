// Texts about a store that both front ends show, so that the window and the
// command-line tool say the same thing about the same outcome.
#pragma once

#include <QString>

#include <cstddef>
#include <optional>

#include "config/config_file.h"
#include "core/config_exchange.h"

// After a failed write: what was written back, and which settings' working
// values now differ from what the units stored. "" when the store wrote
// nothing before the failure.
QString writeBackText(const StoreResult& result);

// Why a store is refused while the EFIS holds working values that were never
// stored.
QString unstoredValuesText();

// Why file cannot be the first configuration of an EFIS whose configuration
// memory is erased: every setting is written, with the header words of the
// file's memory version, so the file must hold both. source names the file.
// nullopt when it can.
std::optional<QString> firstConfigurationRefusal(const vk61::ConfigFile& file, const QString& source);

// A first configuration was stored and read back.
QString firstConfigurationStoredText(const QString& source, std::size_t written);

// No link to the units: the exchange ended before anything was sent.
QString notConnectedText();

// A store refused before anything went out, with why (a rule about what may
// be stored, naming the setting).
QString refusedText(const QString& why);
