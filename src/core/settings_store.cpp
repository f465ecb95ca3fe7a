#include "core/settings_store.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <system_error>

#include "core/conversion_logger.h"
#include "core/json_codec.h"

namespace calvoro {

namespace {

const char* kDataKey = "$data";
const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(const std::vector<uint8_t>& data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    for (size_t i = 0; i < data.size(); i += 3) {
        uint32_t v = static_cast<uint32_t>(data[i]) << 16;
        if (i + 1 < data.size()) v |= static_cast<uint32_t>(data[i + 1]) << 8;
        if (i + 2 < data.size()) v |= data[i + 2];
        out += kBase64[(v >> 18) & 63];
        out += kBase64[(v >> 12) & 63];
        out += i + 1 < data.size() ? kBase64[(v >> 6) & 63] : '=';
        out += i + 2 < data.size() ? kBase64[v & 63] : '=';
    }
    return out;
}

std::optional<std::vector<uint8_t>> base64Decode(const std::string& text) {
    std::vector<uint8_t> out;
    uint32_t buffer = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=') break;
        const char* p = std::strchr(kBase64, c);
        if (!p || !*p) return std::nullopt;
        buffer = (buffer << 6) | static_cast<uint32_t>(p - kBase64);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>((buffer >> bits) & 0xFF));
        }
    }
    return out;
}

// "20261209T162827Z": when the file was found unreadable, in UTC.
std::string fileStamp() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}

// The whole file; nothing when it is no regular file or cannot be read to its end.
std::optional<std::string> readRegularFile(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return std::nullopt;
    try {
        std::ifstream in(file, std::ios::binary);
        if (!in) return std::nullopt;
        std::string text((std::istreambuf_iterator<char>(in)), {});
        if (in.bad()) return std::nullopt;
        return text;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// Renames without ever replacing what is at the target; errno tells why it did not.
bool renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without that flag: a hard link fails on an existing target too.
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

}  // namespace

std::filesystem::path SettingsStore::defaultFolder() {
    if (const char* dir = std::getenv("CALVORO_CONFIG_DIR"); dir && *dir) return dir;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return std::filesystem::path(xdg) / "Calvoro";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home ? home : "/tmp") / ".config" / "Calvoro";
}

SettingsStore& SettingsStore::shared() {
    static SettingsStore store(defaultFolder() / "settings.json");
    return store;
}

SettingsStore::SettingsStore(std::filesystem::path file) : file_(std::move(file)) { reload(); }

SettingsStore::~SettingsStore() {
    flush();
    writer_.reset();
}

void SettingsStore::reload() {
    flush();
    std::optional<std::string> problem;
    {
        std::lock_guard lock(mutex_);
        values_ = Value::object();
        setAside_.reset();
        readOnly_ = false;
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::symlink_status(file_, ec))) return;  // a first start
        if (auto text = readRegularFile(file_)) {
            auto parsed = parseJSON(*text);
            if (parsed && parsed->is_object()) {
                values_ = std::move(*parsed);
                return;
            }
        }
        // Written over at the next set, it would take every other setting with it.
        problem = setAsideUnreadableFile();
    }
    ConversionLogger::shared().warning(*problem, "Settings");
}

// Called with mutex_ held; gives the log line that says what happened.
std::string SettingsStore::setAsideUnreadableFile() {
    const std::string stamp = fileStamp();
    for (int n = 1; n <= 100; ++n) {
        auto target = file_;
        target += ".corrupt-" + stamp + (n > 1 ? "-" + std::to_string(n) : "");
        if (renameNoReplace(file_, target)) {
            setAside_ = target;
            return "Settings could not be read and were reset; the old file is kept as " + target.string();
        }
        if (errno != EEXIST) break;
    }
    const std::string reason = std::generic_category().message(errno);
    readOnly_ = true;
    return "Settings could not be read and were reset; they are not saved in this session, so that " + file_.string() +
           " stays as it is (" + reason + ")";
}

std::optional<std::filesystem::path> SettingsStore::setAsideFile() const {
    std::lock_guard lock(mutex_);
    return setAside_;
}

std::optional<SettingsStore::Value> SettingsStore::value(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return *it;
}

void SettingsStore::set(const std::string& key, Value value) {
    std::lock_guard lock(mutex_);
    values_[key] = std::move(value);
    write();
}

void SettingsStore::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    if (values_.erase(key)) write();
}

void SettingsStore::writeInBackground() {
    std::lock_guard lock(mutex_);
    if (!writer_) writer_ = std::make_unique<std::jthread>([this](std::stop_token stop) { backgroundWriter(stop); });
}

void SettingsStore::flush() {
    std::unique_lock lock(mutex_);
    const uint64_t target = changes_;
    written_.wait(lock, [&] { return !writer_ || writtenChanges_ >= target; });
}

void SettingsStore::backgroundWriter(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, stop, [&] { return changes_ != writtenChanges_; });
        if (changes_ == writtenChanges_) return;  // stopped with nothing left to write
        const uint64_t taken = changes_;
        std::string text = dumpJSON(values_, 2);
        lock.unlock();
        writeFile(text);
        lock.lock();
        writtenChanges_ = taken;
        written_.notify_all();
    }
}

// Called with mutex_ held.
void SettingsStore::write() {
    if (readOnly_) return;
    ++changes_;
    if (writer_) {
        changed_.notify_one();
        return;
    }
    writeFile(dumpJSON(values_, 2));
    writtenChanges_ = changes_;
}

void SettingsStore::writeFile(const std::string& text) {
    std::error_code ec;
    std::filesystem::create_directories(file_.parent_path(), ec);
    auto temp = file_;
    temp += ".tmp-" + std::to_string(::getpid());
    {
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) return;
        size_t done = 0;
        while (done < text.size()) {
            ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        ::fsync(fd);
        ::close(fd);
        if (done != text.size()) {
            std::filesystem::remove(temp, ec);
            return;
        }
    }
    std::filesystem::rename(temp, file_, ec);
    if (ec) std::filesystem::remove(temp, ec);
}

std::optional<bool> SettingsStore::boolValue(const std::string& key) const {
    auto v = value(key);
    if (!v || !v->is_boolean()) return std::nullopt;
    return v->get<bool>();
}

std::optional<int64_t> SettingsStore::integerValue(const std::string& key) const {
    auto v = value(key);
    if (!v || !v->is_number()) return std::nullopt;
    if (v->is_number_unsigned()) {
        const uint64_t u = v->get<uint64_t>();
        if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
        return static_cast<int64_t>(u);
    }
    if (v->is_number_integer()) return v->get<int64_t>();
    // Truncated toward zero; a number no integer holds is no integer at all.
    const double d = v->get<double>();
    if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return std::nullopt;
    return static_cast<int64_t>(d);
}

std::optional<double> SettingsStore::doubleValue(const std::string& key) const {
    auto v = value(key);
    if (!v || !v->is_number()) return std::nullopt;
    return v->get<double>();
}

std::optional<std::string> SettingsStore::stringValue(const std::string& key) const {
    auto v = value(key);
    if (!v || !v->is_string()) return std::nullopt;
    return v->get<std::string>();
}

std::optional<std::vector<uint8_t>> SettingsStore::dataValue(const std::string& key) const {
    auto v = value(key);
    if (!v) return std::nullopt;
    return valueToData(*v);
}

void SettingsStore::setData(const std::string& key, const std::vector<uint8_t>& data) { set(key, dataToValue(data)); }

SettingsStore::Value SettingsStore::dataToValue(const std::vector<uint8_t>& data) {
    Value v = Value::object();
    v[kDataKey] = base64Encode(data);
    return v;
}

std::optional<std::vector<uint8_t>> SettingsStore::valueToData(const Value& value) {
    if (!value.is_object() || value.size() != 1) return std::nullopt;
    auto it = value.find(kDataKey);
    if (it == value.end() || !it->is_string()) return std::nullopt;
    return base64Decode(it->get<std::string>());
}

}  // namespace calvoro
