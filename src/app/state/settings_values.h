#pragma once

#include <cstdint>
#include <optional>

#include "core/settings_store.h"

namespace calvoro::settings {

// Stored values read the way the user defaults bridge them: a number (or a Boolean, which is
// stored as 0 or 1) that converts without loss; anything else gives nothing.
std::optional<double> exactDouble(const SettingsStore::Value& value);
std::optional<int64_t> exactInteger(const SettingsStore::Value& value);
// A Boolean, or the number 0 or 1.
std::optional<bool> exactBool(const SettingsStore::Value& value);

}  // namespace calvoro::settings
