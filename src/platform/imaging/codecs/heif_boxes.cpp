#include "platform/imaging/codecs/heif_boxes.h"

#include <cstring>

namespace calvoro::imaging::detail {

namespace {

struct Box {
    char type[5] = {};
    const uint8_t* body = nullptr;
    size_t bodySize = 0;
};

uint64_t be(const uint8_t* p, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

// The box at data[at], or false when its header or extent runs past the end.
bool readBox(const uint8_t* data, size_t size, size_t at, Box& box, size_t& next) {
    if (size - at < 8) return false;
    uint64_t length = be(data + at, 4);
    size_t header = 8;
    if (length == 1) {
        if (size - at < 16) return false;
        length = be(data + at + 8, 8);
        header = 16;
    } else if (length == 0) {
        length = size - at;
    }
    if (length < header || length > size - at) return false;
    std::memcpy(box.type, data + at + 4, 4);
    box.body = data + at + header;
    box.bodySize = static_cast<size_t>(length) - header;
    next = at + static_cast<size_t>(length);
    return true;
}

bool is(const Box& box, const char* type) { return std::memcmp(box.type, type, 4) == 0; }

// Calls visit on each box in data; false when one is malformed or visit says so.
template <typename Visit>
bool eachBox(const uint8_t* data, size_t size, const Visit& visit) {
    size_t at = 0;
    while (at < size) {
        Box box;
        size_t next = 0;
        if (!readBox(data, size, at, box, next) || !visit(box)) return false;
        at = next;
    }
    return true;
}

bool plainProperties(const Box& ipco) {
    return eachBox(ipco.body, ipco.bodySize, [](const Box& p) { return !is(p, "irot") && !is(p, "imir") && !is(p, "clap"); });
}

bool plainItems(const Box& iinf) {
    if (iinf.bodySize < 4) return false;
    const size_t skip = 4 + (iinf.body[0] == 0 ? 2 : 4);
    if (iinf.bodySize < skip) return false;
    return eachBox(iinf.body + skip, iinf.bodySize - skip, [](const Box& infe) {
        if (!is(infe, "infe")) return true;
        // Versions before 2 carry no item type.
        if (infe.bodySize < 4 || infe.body[0] < 2) return false;
        const size_t typeAt = 4 + (infe.body[0] == 2 ? 2 : 4) + 2;
        if (infe.bodySize < typeAt + 4) return false;
        const uint8_t* type = infe.body + typeAt;
        return std::memcmp(type, "grid", 4) != 0 && std::memcmp(type, "iovl", 4) != 0 && std::memcmp(type, "iden", 4) != 0;
    });
}

}  // namespace

bool showsCodedPictureAsIs(const uint8_t* data, size_t size) {
    bool sawMeta = false, sawProperties = false, sawItems = false;
    const bool readable = eachBox(data, size, [&](const Box& top) {
        if (!is(top, "meta")) return true;
        if (sawMeta || top.bodySize < 4) return false;
        sawMeta = true;
        return eachBox(top.body + 4, top.bodySize - 4, [&](const Box& child) {
            if (is(child, "iinf")) {
                sawItems = true;
                return plainItems(child);
            }
            if (!is(child, "iprp")) return true;
            return eachBox(child.body, child.bodySize, [&](const Box& ipco) {
                if (!is(ipco, "ipco")) return true;
                sawProperties = true;
                return plainProperties(ipco);
            });
        });
    });
    return readable && sawMeta && sawProperties && sawItems;
}

}  // namespace calvoro::imaging::detail
