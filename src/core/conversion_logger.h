#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/uuid.h"

namespace calvoro {

// The one in-memory log of the program. Every entry is also printed as one line.
class ConversionLogger {
public:
    struct LogEntry {
        enum class Level { info, success, warning, error, debug };
        static std::optional<Level> levelFromRawValue(std::string_view raw);
        static std::string rawValue(Level level);

        Uuid id;
        std::chrono::system_clock::time_point timestamp;
        Level level = Level::info;
        std::string category;
        std::string message;
        std::optional<std::string> detail;

        std::string oneLiner() const;
        // The entry's local time as "HH:mm:ss.SSS".
        std::string timeText() const;
    };
    using Level = LogEntry::Level;

    static constexpr int maxEntries = 500;
    static constexpr int trimTarget = 400;

    static ConversionLogger& shared();

    void info(const std::string& message, const std::string& category, std::optional<std::string> detail = std::nullopt);
    void success(const std::string& message, const std::string& category, std::optional<std::string> detail = std::nullopt);
    void warning(const std::string& message, const std::string& category, std::optional<std::string> detail = std::nullopt);
    void error(const std::string& message, const std::string& category, std::optional<std::string> detail = std::nullopt);
    // Records nothing: the level exists only for the log panel's filter.
    void debug(const std::string& message, const std::string& category, std::optional<std::string> detail = std::nullopt);
    void append(Level level, const std::string& category, const std::string& message, std::optional<std::string> detail = std::nullopt);

    void clear();
    std::vector<LogEntry> entries() const;
    std::string exportText() const;

    // Where entry lines are printed: standard output by default; the MCP mode
    // moves them to standard error so that standard output carries frames only.
    void setOutputStream(std::FILE* stream);
    // Called after every change of the entries (from the appending thread).
    using Observer = std::function<void()>;
    int addObserver(Observer observer);
    void removeObserver(int token);

private:
    ConversionLogger() = default;
    void notify();

    mutable std::mutex mutex_;
    std::vector<LogEntry> entries_;
    std::FILE* stream_ = stdout;
    std::vector<std::pair<int, Observer>> observers_;
    int nextObserver_ = 1;
};

}  // namespace calvoro
