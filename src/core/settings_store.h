#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace calvoro {

// Typed user settings in one JSON file, written atomically at every set.
// Data values are stored as {"$data": "<base64>"}.
class SettingsStore {
public:
    using Value = nlohmann::ordered_json;

    static SettingsStore& shared();
    // $CALVORO_CONFIG_DIR, else $XDG_CONFIG_HOME/Calvoro, else ~/.config/Calvoro.
    static std::filesystem::path defaultFolder();

    explicit SettingsStore(std::filesystem::path file);

    std::optional<Value> value(const std::string& key) const;
    void set(const std::string& key, Value value);
    void remove(const std::string& key);

    std::optional<bool> boolValue(const std::string& key) const;
    std::optional<int64_t> integerValue(const std::string& key) const;
    std::optional<double> doubleValue(const std::string& key) const;
    std::optional<std::string> stringValue(const std::string& key) const;
    std::optional<std::vector<uint8_t>> dataValue(const std::string& key) const;
    void setData(const std::string& key, const std::vector<uint8_t>& data);

    static Value dataToValue(const std::vector<uint8_t>& data);
    static std::optional<std::vector<uint8_t>> valueToData(const Value& value);

    const std::filesystem::path& file() const { return file_; }
    // Tests only: read the file again.
    void reload();

private:
    void write();

    mutable std::mutex mutex_;
    std::filesystem::path file_;
    Value values_ = Value::object();
};

}  // namespace calvoro
