#include "app/state/recent_job.h"

#include <nlohmann/json.hpp>

#include <cmath>

#include "core/json_codec.h"
#include "core/settings_store.h"

namespace calvoro {
namespace {

using Json = nlohmann::ordered_json;

// Seconds between 1970-01-01 and 2001-01-01, both UTC.
constexpr double kReferenceDateOffset = 978307200.0;

double secondsSince2001(std::chrono::system_clock::time_point t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count() - kReferenceDateOffset;
}

std::chrono::system_clock::time_point fromSecondsSince2001(double seconds) {
    const std::chrono::duration<double> since1970(seconds + kReferenceDateOffset);
    return std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(since1970));
}

}  // namespace

std::string RecentJob::encodeList(const std::vector<RecentJob>& recents) {
    Json list = Json::array();
    for (const auto& r : recents) {
        Json entry = {{"id", r.id.uuidString()},
                      {"sourcePath", r.sourcePath},
                      {"sourceFormatRaw", r.sourceFormatRaw},
                      {"targetFormatRaw", r.targetFormatRaw},
                      {"timestamp", secondsSince2001(r.timestamp)}};
        if (r.bookmark) entry["bookmark"] = SettingsStore::dataToValue(*r.bookmark)["$data"];
        list.push_back(std::move(entry));
    }
    return dumpJSON(list);
}

std::optional<std::vector<RecentJob>> RecentJob::decodeList(std::string_view json) {
    auto parsed = parseJSON(json);
    if (!parsed || !parsed->is_array()) return std::nullopt;
    std::vector<RecentJob> out;
    for (const auto& e : *parsed) {
        if (!e.is_object()) return std::nullopt;
        auto text = [&](const char* key) -> const Json* {
            auto it = e.find(key);
            return it != e.end() && it->is_string() ? &*it : nullptr;
        };
        const Json* id = text("id");
        const Json* source = text("sourcePath");
        const Json* from = text("sourceFormatRaw");
        const Json* to = text("targetFormatRaw");
        auto stamp = e.find("timestamp");
        if (!id || !source || !from || !to || stamp == e.end() || !stamp->is_number()) return std::nullopt;
        auto uuid = Uuid::fromString(id->get<std::string>());
        const double seconds = stamp->get<double>();
        if (!uuid || !std::isfinite(seconds)) return std::nullopt;
        RecentJob r;
        r.id = *uuid;
        r.sourcePath = source->get<std::string>();
        r.sourceFormatRaw = from->get<std::string>();
        r.targetFormatRaw = to->get<std::string>();
        r.timestamp = fromSecondsSince2001(seconds);
        if (auto b = e.find("bookmark"); b != e.end() && !b->is_null()) {
            if (!b->is_string()) return std::nullopt;
            auto data = SettingsStore::valueToData(Json{{"$data", *b}});
            if (!data) return std::nullopt;
            r.bookmark = std::move(*data);
        }
        out.push_back(std::move(r));
    }
    return out;
}

std::optional<std::filesystem::path> RecentJob::resolveBookmark(const std::vector<uint8_t>& bookmark) {
    auto v = parseJSON(std::string_view(reinterpret_cast<const char*>(bookmark.data()), bookmark.size()));
    if (!v || !v->is_object()) return std::nullopt;
    auto path = v->find("path");
    if (path == v->end() || !path->is_string()) return std::nullopt;
    std::filesystem::path file = path->get<std::string>();
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return std::nullopt;
    return file;
}

}  // namespace calvoro

size_t std::hash<calvoro::RecentJob>::operator()(const calvoro::RecentJob& r) const noexcept {
    size_t h = std::hash<calvoro::Uuid>()(r.id);
    auto mix = [&h](size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
    mix(std::hash<std::string>()(r.sourcePath));
    mix(std::hash<std::string>()(r.sourceFormatRaw));
    mix(std::hash<std::string>()(r.targetFormatRaw));
    mix(std::hash<int64_t>()(r.timestamp.time_since_epoch().count()));
    if (r.bookmark) mix(std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char*>(r.bookmark->data()), r.bookmark->size())));
    return h;
}
