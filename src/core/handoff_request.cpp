#include "core/handoff_request.h"

#include "core/file_url.h"
#include "core/text_util.h"

namespace calvoro {

namespace {

bool isSchemeCharacter(char c, bool first) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (first) return letter;
    return letter || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

}  // namespace

std::optional<URLParts> URLParts::split(std::string_view url) {
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) return std::nullopt;
    }
    const size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    for (size_t i = 0; i < colon; ++i)
        if (!isSchemeCharacter(url[i], i == 0)) return std::nullopt;

    URLParts parts;
    parts.scheme = std::string(url.substr(0, colon));
    std::string_view rest = url.substr(colon + 1);
    if (const size_t hash = rest.find('#'); hash != std::string_view::npos) rest = rest.substr(0, hash);
    std::string_view query;
    bool hasQuery = false;
    if (const size_t question = rest.find('?'); question != std::string_view::npos) {
        query = rest.substr(question + 1);
        rest = rest.substr(0, question);
        hasQuery = true;
    }
    if (rest.substr(0, 2) == "//") {
        std::string_view authority = rest.substr(2);
        authority = authority.substr(0, authority.find('/'));
        if (const size_t at = authority.rfind('@'); at != std::string_view::npos) authority = authority.substr(at + 1);
        if (const size_t port = authority.find(':'); port != std::string_view::npos) authority = authority.substr(0, port);
        parts.host = std::string(authority);
    }
    if (!hasQuery) return parts;

    std::vector<URLQueryItem> items;
    if (!query.empty()) {
        size_t start = 0;
        for (;;) {
            const size_t end = query.find('&', start);
            const std::string_view item = query.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
            URLQueryItem decoded;
            const size_t equals = item.find('=');
            auto name = decodedPercentEscapes(item.substr(0, equals));
            if (!name) return std::nullopt;
            decoded.name = std::move(*name);
            if (equals != std::string_view::npos) {
                auto value = decodedPercentEscapes(item.substr(equals + 1));
                if (!value) return std::nullopt;
                decoded.value = std::move(*value);
            }
            items.push_back(std::move(decoded));
            if (end == std::string_view::npos) break;
            start = end + 1;
        }
    }
    parts.queryItems = std::move(items);
    return parts;
}

std::optional<std::string> URLParts::firstValue(std::string_view name) const {
    if (!queryItems) return std::nullopt;
    for (const auto& item : *queryItems)
        if (item.name == name) return item.value;
    return std::nullopt;
}

std::variant<HandoffRequest, HandoffRequest::Refusal> HandoffRequest::parse(std::string_view url) {
    using Reason = Refusal::Reason;
    const auto parts = URLParts::split(url);
    if (!parts) return Refusal{Reason::malformed, std::string(url)};
    // Scheme and host are case-insensitive (RFC 3986); the query's values are not.
    const std::string host = asciiLowercased(parts->host);
    if (asciiLowercased(parts->scheme) != "calvoro" || (host != "convert" && host != "compress"))
        return Refusal{Reason::unknownAction, parts->scheme + "://" + parts->host};

    HandoffRequest request;
    // An empty value names no file; a path with NUL in it names none either.
    const auto src = parts->firstValue("src");
    if (!src || src->empty() || src->find('\0') != std::string::npos) return Refusal{Reason::noSource, ""};
    request.source = *src;
    if (!request.source.is_absolute()) return Refusal{Reason::noSource, *src};

    if (host == "convert") {
        const auto fmt = parts->firstValue("fmt");
        if (!fmt) return Refusal{Reason::unknownFormat, ""};
        request.target = SupportedFormat::fromRawValue(*fmt);
        if (!request.target) return Refusal{Reason::unknownFormat, *fmt};
        request.action = Action::convert;
        return request;
    }
    if (parts->firstValue("choose") == "1") {
        request.action = Action::chooseCompression;
        return request;
    }
    const auto level = parts->firstValue("level");
    if (!level || level->empty()) return Refusal{Reason::noLevel, ""};
    request.action = Action::compress;
    request.level = *level;
    return request;
}

std::optional<HandoffRequest> HandoffRequest::read(std::string_view url) {
    auto parsed = parse(url);
    if (auto* request = std::get_if<HandoffRequest>(&parsed)) return std::move(*request);
    return std::nullopt;
}

}  // namespace calvoro
