#pragma once

#include <cstdint>
#include <filesystem>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
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
    ~SettingsStore();

    std::optional<Value> value(const std::string& key) const;
    void set(const std::string& key, Value value);
    void remove(const std::string& key);

    std::optional<bool> boolValue(const std::string& key) const;
    // A number truncated toward zero; nothing when it is not a number or no int64 holds it.
    std::optional<int64_t> integerValue(const std::string& key) const;
    std::optional<double> doubleValue(const std::string& key) const;
    std::optional<std::string> stringValue(const std::string& key) const;
    std::optional<std::vector<uint8_t>> dataValue(const std::string& key) const;
    void setData(const std::string& key, const std::vector<uint8_t>& data);

    static Value dataToValue(const std::vector<uint8_t>& data);
    static std::optional<std::vector<uint8_t>> valueToData(const Value& value);

    const std::filesystem::path& file() const { return file_; }
    // Tests only: read the file again (after the pending write).
    void reload();
    // Where the last load put a settings file it could not read, which the defaults then
    // replaced; nothing when the file was read or missing.
    std::optional<std::filesystem::path> setAsideFile() const;

    // From now on the file is written by a background thread, so that a set never waits for the
    // disk: every set is seen by reads at once and reaches the file in order, the latest values
    // last. The window uses it; its main thread must never block on a write.
    void writeInBackground();
    // Returns once the file holds every set made before the call.
    void flush();

private:
    void write();
    void writeFile(const std::string& text);
    void backgroundWriter(std::stop_token stop);
    std::string setAsideUnreadableFile();

    mutable std::mutex mutex_;
    std::filesystem::path file_;
    Value values_ = Value::object();
    std::optional<std::filesystem::path> setAside_;
    // An unreadable file that could not be moved aside is never written over.
    bool readOnly_ = false;

    std::condition_variable_any changed_;
    std::condition_variable written_;
    uint64_t changes_ = 0;       // sets so far
    uint64_t writtenChanges_ = 0;  // sets the file holds
    std::unique_ptr<std::jthread> writer_;
};

}  // namespace calvoro
