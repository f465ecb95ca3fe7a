#include "core/conversion_logger.h"

#include <ctime>

namespace calvoro {

namespace {

std::string timeText(std::chrono::system_clock::time_point t) {
    auto seconds = std::chrono::system_clock::to_time_t(t);
    auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
    if (millis < 0) millis += 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(millis));
    return buf;
}

}  // namespace

std::optional<ConversionLogger::Level> ConversionLogger::LogEntry::levelFromRawValue(std::string_view raw) {
    for (auto level : {Level::info, Level::success, Level::warning, Level::error, Level::debug})
        if (rawValue(level) == raw) return level;
    return std::nullopt;
}

std::string ConversionLogger::LogEntry::rawValue(Level level) {
    switch (level) {
        case Level::info: return "INFO";
        case Level::success: return "OK";
        case Level::warning: return "WARN";
        case Level::error: return "ERROR";
        case Level::debug: return "DEBUG";
    }
    return "INFO";
}

std::string ConversionLogger::LogEntry::timeText() const { return calvoro::timeText(timestamp); }

std::string ConversionLogger::LogEntry::oneLiner() const {
    std::string line = "[" + calvoro::timeText(timestamp) + "] [" + rawValue(level) + "] [" + category + "] " + message;
    if (detail) line += " \u2014 " + *detail;
    return line;
}

ConversionLogger& ConversionLogger::shared() {
    static ConversionLogger instance;
    return instance;
}

void ConversionLogger::info(const std::string& m, const std::string& c, std::optional<std::string> d) {
    append(Level::info, c, m, std::move(d));
}
void ConversionLogger::success(const std::string& m, const std::string& c, std::optional<std::string> d) {
    append(Level::success, c, m, std::move(d));
}
void ConversionLogger::warning(const std::string& m, const std::string& c, std::optional<std::string> d) {
    append(Level::warning, c, m, std::move(d));
}
void ConversionLogger::error(const std::string& m, const std::string& c, std::optional<std::string> d) {
    append(Level::error, c, m, std::move(d));
}
void ConversionLogger::debug(const std::string&, const std::string&, std::optional<std::string>) {}

void ConversionLogger::append(Level level, const std::string& category, const std::string& message,
                              std::optional<std::string> detail) {
    LogEntry entry;
    entry.timestamp = std::chrono::system_clock::now();
    entry.level = level;
    entry.category = category;
    entry.message = message;
    entry.detail = std::move(detail);
    {
        std::lock_guard lock(mutex_);
        std::string line = entry.oneLiner();
        entries_.push_back(std::move(entry));
        std::fprintf(stream_, "%s\n", line.c_str());
        std::fflush(stream_);
        if (entries_.size() > static_cast<size_t>(maxEntries))
            entries_.erase(entries_.begin(), entries_.begin() + static_cast<long>(entries_.size() - trimTarget));
    }
    notify();
}

void ConversionLogger::clear() {
    {
        std::lock_guard lock(mutex_);
        entries_.clear();
    }
    notify();
}

std::vector<ConversionLogger::LogEntry> ConversionLogger::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::string ConversionLogger::exportText() const {
    std::lock_guard lock(mutex_);
    std::string out;
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (i) out += "\n";
        out += entries_[i].oneLiner();
    }
    return out;
}

void ConversionLogger::setOutputStream(std::FILE* stream) {
    std::lock_guard lock(mutex_);
    stream_ = stream ? stream : stdout;
}

int ConversionLogger::addObserver(Observer observer) {
    std::lock_guard lock(mutex_);
    int token = nextObserver_++;
    observers_.emplace_back(token, std::move(observer));
    return token;
}

void ConversionLogger::removeObserver(int token) {
    std::lock_guard lock(mutex_);
    std::erase_if(observers_, [token](const auto& p) { return p.first == token; });
}

void ConversionLogger::notify() {
    std::vector<Observer> copy;
    {
        std::lock_guard lock(mutex_);
        for (auto& [token, observer] : observers_) copy.push_back(observer);
    }
    for (auto& observer : copy) observer();
}

}  // namespace calvoro
