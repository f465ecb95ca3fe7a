#include "converters/font/woff2_glyf.h"

#include <algorithm>
#include <string>

#include "core/byte_order.h"
#include "core/conversion_error.h"

namespace calvoro {

namespace {

[[noreturn]] void endedEarly() { throw ConversionError::corruptFile("WOFF2 stream ended early."); }

int64_t clamp16(int64_t v) { return std::clamp<int64_t>(v, -32768, 32767); }

size_t bitmapSize(int numGlyphs) { return 4 * ((size_t(numGlyphs) + 31) / 32); }

// Sizes of a component record's parts by its flags; the scale bits count in this order only.
size_t argumentBytes(uint16_t flags) { return (flags & 0x0001) ? 4 : 2; }
size_t scaleBytes(uint16_t flags) {
    if (flags & 0x0080) return 8;
    if (flags & 0x0040) return 4;
    if (flags & 0x0008) return 2;
    return 0;
}

constexpr uint16_t moreComponents = 0x0020;
constexpr uint16_t weHaveInstructions = 0x0100;

}  // namespace

uint8_t Cursor::u8() {
    if (position >= end) endedEarly();
    return data[position++];
}

uint16_t Cursor::u16() { return byte_order::be16(take(2).data()); }

std::span<const uint8_t> Cursor::take(ptrdiff_t count) {
    if (count < 0 || size_t(count) > end - position) endedEarly();
    auto out = data.subspan(position, size_t(count));
    position += size_t(count);
    return out;
}

int Cursor::read255UInt16() {
    int c = u8();
    if (c == 255) return 253 + u8();
    if (c == 254) return 506 + u8();
    if (c == 253) {
        int hi = u8();
        return (hi << 8) | u8();
    }
    return c;
}

void WOFF2Glyf::encode255UInt16(int v, ByteOut& out) {
    if (v <= 252) {
        out.u8(static_cast<uint8_t>(v));
    } else if (v <= 505) {
        out.u8(255);
        out.u8(static_cast<uint8_t>(v - 253));
    } else if (v <= 761) {
        out.u8(254);
        out.u8(static_cast<uint8_t>(v - 506));
    } else {
        out.u8(253);
        out.u16(static_cast<uint16_t>(v));
    }
}

std::optional<WOFF2Glyf::Triplet> WOFF2Glyf::encodeTriplet(int dx, int dy) {
    const int ax = dx < 0 ? -dx : dx;
    const int ay = dy < 0 ? -dy : dy;
    const int s = (dx > 0 ? 1 : 0) + (dy > 0 ? 2 : 0);
    Triplet t;
    auto put = [&t](int b) { t.bytes[t.count++] = static_cast<uint8_t>(b); };
    if (dx == 0 && ay <= 1279) {
        t.code = static_cast<uint8_t>(2 * (ay >> 8) + (dy > 0 ? 1 : 0));
        put(ay & 0xFF);
    } else if (dy == 0 && ax <= 1279) {
        t.code = static_cast<uint8_t>(10 + 2 * (ax >> 8) + (dx > 0 ? 1 : 0));
        put(ax & 0xFF);
    } else if (ax >= 1 && ax <= 64 && ay >= 1 && ay <= 64) {
        t.code = static_cast<uint8_t>(20 + ((ax - 1) & 0x30) + (((ay - 1) & 0x30) >> 2) + s);
        put((((ax - 1) & 0x0F) << 4) | ((ay - 1) & 0x0F));
    } else if (ax >= 1 && ax <= 768 && ay >= 1 && ay <= 768) {
        t.code = static_cast<uint8_t>(84 + 12 * ((ax - 1) >> 8) + 4 * ((ay - 1) >> 8) + s);
        put((ax - 1) & 0xFF);
        put((ay - 1) & 0xFF);
    } else if (ax <= 4095 && ay <= 4095) {
        t.code = static_cast<uint8_t>(120 + s);
        put(ax >> 4);
        put(((ax & 0x0F) << 4) | (ay >> 8));
        put(ay & 0xFF);
    } else if (ax <= 65535 && ay <= 65535) {
        t.code = static_cast<uint8_t>(124 + s);
        put(ax >> 8);
        put(ax & 0xFF);
        put(ay >> 8);
        put(ay & 0xFF);
    } else {
        return std::nullopt;
    }
    return t;
}

std::pair<int, int> WOFF2Glyf::readTriplet(int code, Cursor& g) {
    if (code < 0 || code > 127) throw ConversionError::corruptFile("Invalid WOFF2 point flag.");
    auto sign = [code](int bit, int v) { return (code >> bit) & 1 ? v : -v; };
    if (code < 10) {
        int b0 = g.u8();
        return {0, sign(0, 256 * ((code >> 1) & 7) + b0)};
    }
    if (code < 20) {
        int b0 = g.u8();
        return {sign(0, 256 * ((code - 10) >> 1) + b0), 0};
    }
    if (code < 84) {
        int c = code - 20;
        int b0 = g.u8();
        return {sign(0, 1 + (c & 0x30) + (b0 >> 4)), sign(1, 1 + ((c & 0x0C) << 2) + (b0 & 0x0F))};
    }
    if (code < 120) {
        int c = code - 84;
        int b0 = g.u8();
        int b1 = g.u8();
        return {sign(0, 1 + 256 * (c / 12) + b0), sign(1, 1 + 256 * ((c % 12) >> 2) + b1)};
    }
    if (code < 124) {
        int b0 = g.u8();
        int b1 = g.u8();
        int b2 = g.u8();
        return {sign(0, (b0 << 4) + (b1 >> 4)), sign(1, ((b1 & 0x0F) << 8) + b2)};
    }
    int b0 = g.u8();
    int b1 = g.u8();
    int b2 = g.u8();
    int b3 = g.u8();
    return {sign(0, (b0 << 8) + b1), sign(1, (b2 << 8) + b3)};
}

void WOFF2Glyf::encodePoints(std::span<const int64_t> xs, std::span<const int64_t> ys, const std::vector<bool>& onCurve,
                             ByteOut& out) {
    const size_t n = xs.size();
    std::vector<uint8_t> flags(n);
    std::vector<uint8_t> xb, yb;
    xb.reserve(n * 2);
    yb.reserve(n * 2);
    auto coordinate = [](int64_t d, uint8_t same, uint8_t shortPos, uint8_t shortNeg, std::vector<uint8_t>& bytes) -> uint8_t {
        if (d == 0) return same;
        if (d >= 1 && d <= 255) {
            bytes.push_back(static_cast<uint8_t>(d));
            return shortPos;
        }
        if (d >= -255 && d <= -1) {
            bytes.push_back(static_cast<uint8_t>(-d));
            return shortNeg;
        }
        auto v = static_cast<uint16_t>(static_cast<int16_t>(clamp16(d)));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
        bytes.push_back(static_cast<uint8_t>(v & 0xFF));
        return 0;
    };
    int64_t px = 0, py = 0;
    for (size_t i = 0; i < n; ++i) {
        uint8_t f = onCurve[i] ? 0x01 : 0x00;
        f |= coordinate(xs[i] - px, 0x10, 0x12, 0x02, xb);
        f |= coordinate(ys[i] - py, 0x20, 0x24, 0x04, yb);
        flags[i] = f;
        px = xs[i];
        py = ys[i];
    }
    out.append(flags);
    out.append(xb);
    out.append(yb);
}

void WOFF2Glyf::skipComposite(Cursor& c) {
    uint16_t flags = 0;
    do {
        flags = c.u16();
        c.take(2);
        c.take(ptrdiff_t(argumentBytes(flags)));
        c.take(ptrdiff_t(scaleBytes(flags)));
    } while (flags & moreComponents);
}

bool WOFF2Glyf::compositeHasInstructions(std::span<const uint8_t> r) {
    size_t p = 0;
    uint16_t flags = 0;
    for (;;) {
        if (r.size() - p < 4) return false;
        flags = readU16(r, p);
        p += 4;
        size_t args = argumentBytes(flags);
        if (r.size() - p < args) return false;
        p += args;
        size_t scale = scaleBytes(flags);
        if (r.size() - p >= scale) p += scale;
        if (!(flags & moreComponents)) break;
    }
    return flags & weHaveInstructions;
}

namespace {

// The streams of a transformed glyf as they fill, glyph by glyph.
struct TransformedGlyfOut {
    ByteOut nContour, nPoints, flagStream, glyphStream, composite, bboxValues, instructions;
    std::vector<uint8_t> bitmap;

    // The glyph's own box travels: its bit set and its four values stored.
    void keepBBox(int i, const int16_t (&box)[4]) {
        bitmap[size_t(i) / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
        for (auto v : box) bboxValues.u16(static_cast<uint16_t>(v));
    }
};

// A simple glyph's flags and absolute coordinates, the buffers reused from glyph to glyph.
struct SimpleOutline {
    std::vector<uint8_t> flags;
    std::vector<int64_t> xs, ys;
};

// A composite's records go whole to their stream; its box always travels.
void transformComposite(Cursor& c, std::span<const uint8_t> glyf, size_t start, int i, const int16_t (&box)[4],
                        TransformedGlyfOut& out) {
    out.keepBBox(i, box);
    WOFF2Glyf::skipComposite(c);
    auto records = glyf.subspan(start + 10, c.position - (start + 10));
    out.composite.append(records);
    if (WOFF2Glyf::compositeHasInstructions(records)) {
        uint16_t length = c.u16();
        auto code = c.take(length);
        WOFF2Glyf::encode255UInt16(length, out.glyphStream);
        out.instructions.append(code);
    }
}

// Contour end points become point counts per contour; the glyph's number of points, or
// nothing when the ends do not rise or there are too many points.
std::optional<size_t> transformEndPoints(Cursor& c, int contours, ByteOut& nPoints) {
    int previous = -1;
    for (int k = 0; k < contours; ++k) {
        int endPoint = c.u16();
        if (endPoint <= previous) return std::nullopt;
        WOFF2Glyf::encode255UInt16(endPoint - previous, nPoints);
        previous = endPoint;
    }
    if (previous > 65534) return std::nullopt;
    return size_t(previous) + 1;
}

void readAxis(Cursor& c, const std::vector<uint8_t>& flags, std::vector<int64_t>& axis, uint8_t shortBit, uint8_t sameBit) {
    int64_t v = 0;
    for (size_t k = 0; k < axis.size(); ++k) {
        const uint8_t f = flags[k];
        if (f & shortBit) {
            int b = c.u8();
            v += (f & sameBit) ? b : -b;
        } else if (!(f & sameBit)) {
            v += c.s16();
        }
        axis[k] = v;
    }
}

// The flags with their repeats unrolled, then each axis as absolute coordinates.
void readOutline(Cursor& c, size_t n, SimpleOutline& outline) {
    auto& flags = outline.flags;
    flags.clear();
    while (flags.size() < n) {
        uint8_t f = c.u8();
        flags.push_back(f);
        if (f & 0x08) {
            int repeat = c.u8();
            for (; repeat > 0 && flags.size() < n; --repeat) flags.push_back(f);
        }
    }
    outline.xs.assign(n, 0);
    outline.ys.assign(n, 0);
    readAxis(c, flags, outline.xs, 0x02, 0x10);
    readAxis(c, flags, outline.ys, 0x04, 0x20);
}

// The box travels only when it differs from the one the points give.
void transformBBox(int i, const int16_t (&box)[4], const SimpleOutline& outline, TransformedGlyfOut& out) {
    const auto& xs = outline.xs;
    const auto& ys = outline.ys;
    const int64_t computed[4] = {clamp16(*std::min_element(xs.begin(), xs.end())),
                                 clamp16(*std::min_element(ys.begin(), ys.end())),
                                 clamp16(*std::max_element(xs.begin(), xs.end())),
                                 clamp16(*std::max_element(ys.begin(), ys.end()))};
    if (computed[0] != box[0] || computed[1] != box[1] || computed[2] != box[2] || computed[3] != box[3])
        out.keepBBox(i, box);
}

// Each point as a triplet, its flag byte carrying the off-curve bit; false when a step has no triplet.
bool transformPoints(const SimpleOutline& outline, TransformedGlyfOut& out) {
    int64_t px = 0, py = 0;
    for (size_t k = 0; k < outline.xs.size(); ++k) {
        auto t = WOFF2Glyf::encodeTriplet(int(outline.xs[k] - px), int(outline.ys[k] - py));
        if (!t) return false;
        out.flagStream.u8(static_cast<uint8_t>(t->code | ((outline.flags[k] & 0x01) ? 0 : 0x80)));
        out.glyphStream.append(std::span<const uint8_t>(t->bytes, t->count));
        px = outline.xs[k];
        py = outline.ys[k];
    }
    return true;
}

bool transformSimple(Cursor& c, int contours, int i, const int16_t (&box)[4], SimpleOutline& outline,
                     TransformedGlyfOut& out) {
    const auto n = transformEndPoints(c, contours, out.nPoints);
    if (!n) return false;
    const uint16_t instructionLength = c.u16();
    auto code = c.take(instructionLength);
    readOutline(c, *n, outline);
    transformBBox(i, box, outline, out);
    if (!transformPoints(outline, out)) return false;
    WOFF2Glyf::encode255UInt16(instructionLength, out.glyphStream);
    out.instructions.append(code);
    return true;
}

// One glyph's record, glyf[start, end), split into the streams; false when it cannot be.
bool transformGlyph(std::span<const uint8_t> glyf, size_t start, size_t end, int i, SimpleOutline& outline,
                    TransformedGlyfOut& out) {
    if (end <= start) {
        out.nContour.u16(0);
        return true;
    }
    if (end > glyf.size() || end - start < 10) return false;
    Cursor c(glyf, start, end);
    const int16_t contours = c.s16();
    out.nContour.u16(static_cast<uint16_t>(contours));
    int16_t box[4];
    for (auto& v : box) v = c.s16();
    if (contours < 0) {
        transformComposite(c, glyf, start, i, box, out);
        return true;
    }
    if (contours == 0) return false;
    return transformSimple(c, contours, i, box, outline, out);
}

// The header, the streams' sizes, then the streams in their order.
std::vector<uint8_t> packTransformedGlyf(const TransformedGlyfOut& s, int numGlyphs, int indexFormat) {
    ByteOut out;
    const size_t bboxSize = s.bitmap.size() + s.bboxValues.size();
    out.bytes.reserve(36 + s.nContour.size() + s.nPoints.size() + s.flagStream.size() + s.glyphStream.size() +
                      s.composite.size() + bboxSize + s.instructions.size());
    out.u16(0);
    out.u16(0);
    out.u16(static_cast<uint16_t>(numGlyphs));
    out.u16(static_cast<uint16_t>(indexFormat));
    for (size_t size : {s.nContour.size(), s.nPoints.size(), s.flagStream.size(), s.glyphStream.size(),
                        s.composite.size(), bboxSize, s.instructions.size()})
        out.u32(static_cast<uint32_t>(size));
    out.append(s.nContour.bytes);
    out.append(s.nPoints.bytes);
    out.append(s.flagStream.bytes);
    out.append(s.glyphStream.bytes);
    out.append(s.composite.bytes);
    out.append(s.bitmap);
    out.append(s.bboxValues.bytes);
    out.append(s.instructions.bytes);
    return std::move(out.bytes);
}

}  // namespace

std::optional<std::vector<uint8_t>> WOFF2Glyf::transform(std::span<const uint8_t> glyf, std::span<const uint8_t> loca,
                                                         int indexFormat, int numGlyphs) {
    if (numGlyphs < 1 || numGlyphs > 65535) return std::nullopt;
    const bool shortLoca = indexFormat == 0;
    const size_t locaEntries = loca.size() / (shortLoca ? 2 : 4);
    if (locaEntries <= size_t(numGlyphs)) return std::nullopt;
    auto locaAt = [&](size_t i) -> size_t {
        return shortLoca ? size_t(readU16(loca, 2 * i)) * 2 : size_t(readU32(loca, 4 * i));
    };

    TransformedGlyfOut out;
    out.bitmap.assign(bitmapSize(numGlyphs), 0);
    SimpleOutline outline;
    try {
        for (int i = 0; i < numGlyphs; ++i) {
            const size_t start = locaAt(size_t(i));
            const size_t end = locaAt(size_t(i) + 1);
            if (!transformGlyph(glyf, start, end, i, outline, out)) return std::nullopt;
        }
    } catch (const ConversionError&) {
        return std::nullopt;
    }
    return packTransformedGlyf(out, numGlyphs, indexFormat);
}

namespace {

// The streams of a transformed glyf, each a window of the table, and the bbox bitmap.
struct TransformedGlyfIn {
    std::span<const uint8_t> table;
    Cursor nContour, nPoints, flagStream, glyphStream, composite, bboxValues, instructions;
    std::span<const uint8_t> bitmap;

    bool hasBBox(int i) const { return (bitmap[size_t(i) / 8] >> (7 - i % 8)) & 1; }
};

// The seven streams cut from the table by the sizes after the header, then the bitmap
// taken from the front of the bbox stream.
TransformedGlyfIn cutTransformedGlyf(std::span<const uint8_t> table, Cursor& header, int numGlyphs) {
    size_t offset = 36;
    auto slice = [&](uint32_t size) {
        if (size > table.size() - offset)
            throw ConversionError::corruptFile("Transformed glyf stream runs past the end of the table.");
        Cursor c(table, offset, offset + size);
        offset += size;
        return c;
    };
    uint32_t sizes[7];
    for (auto& s : sizes) s = (uint32_t(header.u16()) << 16) | header.u16();
    TransformedGlyfIn in;
    in.table = table;
    in.nContour = slice(sizes[0]);
    in.nPoints = slice(sizes[1]);
    in.flagStream = slice(sizes[2]);
    in.glyphStream = slice(sizes[3]);
    in.composite = slice(sizes[4]);
    in.bboxValues = slice(sizes[5]);
    in.instructions = slice(sizes[6]);

    const size_t bitmapLength = bitmapSize(numGlyphs);
    if (in.bboxValues.end - in.bboxValues.position < bitmapLength)
        throw ConversionError::corruptFile("WOFF2 bbox bitmap is truncated.");
    in.bitmap = in.bboxValues.take(ptrdiff_t(bitmapLength));
    return in;
}

void rebuildComposite(TransformedGlyfIn& in, int i, int16_t contours, ByteOut& glyf) {
    const size_t start = in.composite.position;
    WOFF2Glyf::skipComposite(in.composite);
    const auto records = in.table.subspan(start, in.composite.position - start);
    glyf.u16(static_cast<uint16_t>(contours));
    if (!in.hasBBox(i))
        throw ConversionError::corruptFile("Composite glyph " + std::to_string(i) + " is missing its bounding box.");
    for (int k = 0; k < 4; ++k) glyf.u16(in.bboxValues.u16());
    glyf.append(records);
    if (WOFF2Glyf::compositeHasInstructions(records)) {
        const int length = in.glyphStream.read255UInt16();
        glyf.u16(static_cast<uint16_t>(length));
        glyf.append(in.instructions.take(length));
    }
}

// A simple glyph's contour ends and points, the buffers reused from glyph to glyph.
struct DecodedOutline {
    std::vector<uint16_t> endPoints;
    std::vector<int64_t> xs, ys;
    std::vector<bool> onCurve;
};

// Contour ends from the point counts per contour; the glyph's number of points.
size_t readEndPoints(Cursor& nPoints, int contours, int i, std::vector<uint16_t>& endPoints) {
    endPoints.resize(size_t(contours));
    int64_t total = 0;
    for (int k = 0; k < contours; ++k) {
        total += nPoints.read255UInt16();
        // An end point of -1 has no place in the unsigned field; the first contour must hold a point.
        if (total == 0 || total > 65535)
            throw ConversionError::corruptFile("Glyph " + std::to_string(i) + " has an invalid point count.");
        endPoints[size_t(k)] = static_cast<uint16_t>(total - 1);
    }
    return size_t(total);
}

// Each point from its flag byte and triplet, as absolute coordinates.
void readPoints(TransformedGlyfIn& in, size_t n, DecodedOutline& outline) {
    outline.xs.resize(n);
    outline.ys.resize(n);
    outline.onCurve.resize(n);
    int64_t x = 0, y = 0;
    for (size_t k = 0; k < n; ++k) {
        const uint8_t f = in.flagStream.u8();
        outline.onCurve[k] = !(f & 0x80);
        auto [dx, dy] = WOFF2Glyf::readTriplet(f & 0x7F, in.glyphStream);
        x += dx;
        y += dy;
        outline.xs[k] = x;
        outline.ys[k] = y;
    }
}

// The box the glyph carries, else the one its points give.
void writeSimpleBBox(TransformedGlyfIn& in, int i, const DecodedOutline& outline, ByteOut& glyf) {
    if (in.hasBBox(i)) {
        for (int k = 0; k < 4; ++k) glyf.u16(in.bboxValues.u16());
        return;
    }
    const auto& xs = outline.xs;
    const auto& ys = outline.ys;
    for (int64_t v : {*std::min_element(xs.begin(), xs.end()), *std::min_element(ys.begin(), ys.end()),
                      *std::max_element(xs.begin(), xs.end()), *std::max_element(ys.begin(), ys.end())})
        glyf.u16(static_cast<uint16_t>(static_cast<int16_t>(clamp16(v))));
}

void rebuildSimple(TransformedGlyfIn& in, int i, int16_t contours, DecodedOutline& outline, ByteOut& glyf) {
    const size_t n = readEndPoints(in.nPoints, contours, i, outline.endPoints);
    readPoints(in, n, outline);
    const int instructionLength = in.glyphStream.read255UInt16();
    const auto code = in.instructions.take(instructionLength);

    glyf.u16(static_cast<uint16_t>(contours));
    writeSimpleBBox(in, i, outline, glyf);
    for (auto e : outline.endPoints) glyf.u16(e);
    glyf.u16(static_cast<uint16_t>(instructionLength));
    glyf.append(code);
    WOFF2Glyf::encodePoints(outline.xs, outline.ys, outline.onCurve, glyf);
}

// loca for the glyphs' offsets: short only when the font asked for it and every offset fits.
WOFF2Glyf::Result withLoca(ByteOut& glyf, const std::vector<size_t>& offsets, int indexFormat) {
    WOFF2Glyf::Result result;
    bool longLoca = indexFormat != 0;
    if (!longLoca) {
        for (size_t o : offsets)
            if (o % 2 || o / 2 > 65535) longLoca = true;
    }
    ByteOut loca;
    loca.bytes.reserve(offsets.size() * (longLoca ? 4 : 2));
    for (size_t o : offsets) {
        if (longLoca)
            loca.u32(static_cast<uint32_t>(o));
        else
            loca.u16(static_cast<uint16_t>(o / 2));
    }
    result.indexFormat = longLoca ? (indexFormat != 0 ? indexFormat : 1) : 0;
    result.glyf = std::move(glyf.bytes);
    result.loca = std::move(loca.bytes);
    return result;
}

}  // namespace

WOFF2Glyf::Result WOFF2Glyf::reconstruct(std::span<const uint8_t> table) {
    if (table.size() < 36) throw ConversionError::corruptFile("Transformed glyf table is too short.");
    Cursor header(table, 0, table.size());
    header.take(4);
    const int numGlyphs = header.u16();
    const int indexFormat = header.u16();
    TransformedGlyfIn in = cutTransformedGlyf(table, header, numGlyphs);

    ByteOut glyf;
    std::vector<size_t> offsets;
    offsets.reserve(size_t(numGlyphs) + 1);
    offsets.push_back(0);
    DecodedOutline outline;
    for (int i = 0; i < numGlyphs; ++i) {
        const int16_t contours = in.nContour.s16();
        if (contours < 0)
            rebuildComposite(in, i, contours, glyf);
        else if (contours > 0)
            rebuildSimple(in, i, contours, outline, glyf);
        if (glyf.size() % 2) glyf.u8(0);
        offsets.push_back(glyf.size());
    }
    return withLoca(glyf, offsets, indexFormat);
}

}  // namespace calvoro
