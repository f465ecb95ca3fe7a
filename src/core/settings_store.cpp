#include "core/settings_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

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
    std::lock_guard lock(mutex_);
    values_ = Value::object();
    std::ifstream in(file_, std::ios::binary);
    if (!in) return;
    std::string text((std::istreambuf_iterator<char>(in)), {});
    auto parsed = Value::parse(text, nullptr, false);
    if (!parsed.is_discarded() && parsed.is_object()) values_ = std::move(parsed);
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
        std::string text = values_.dump(2);
        lock.unlock();
        writeFile(text);
        lock.lock();
        writtenChanges_ = taken;
        written_.notify_all();
    }
}

// Called with mutex_ held.
void SettingsStore::write() {
    ++changes_;
    if (writer_) {
        changed_.notify_one();
        return;
    }
    writeFile(values_.dump(2));
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
    if (v->is_number_float()) return static_cast<int64_t>(v->get<double>());
    return v->get<int64_t>();
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
