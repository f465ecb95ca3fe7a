// Follows a page's content up to its first fill that covers the whole page, keeping only what
// decides whether that fill reaches every point of the page opaquely: the transformation, the
// clip, the fill colour's space, the constant opacity and soft mask, and optional content.
#include "platform/pdf/page_cover.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace calvoro::pdf {
namespace {

// Points along each edge of the page that need not be covered: renderers sample pixels well
// inside it, and printers write their matrices with a few digits, which leaves a fill a
// hair short of the edge.
constexpr double edgeMargin = 1.0;
// A page that paints this much before its background is not followed further.
constexpr int operatorLimit = 10000;

struct Matrix {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
};

// m applied first, then n (row vectors, as in PDF).
Matrix then(const Matrix& m, const Matrix& n) {
    return {m.a * n.a + m.b * n.c, m.a * n.b + m.b * n.d, m.c * n.a + m.d * n.c,
            m.c * n.b + m.d * n.d, m.e * n.a + m.f * n.c + n.e, m.e * n.b + m.f * n.d + n.f};
}

struct Box {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

Box normalised(const QPDFObjectHandle::Rectangle& r) {
    return {std::min(r.llx, r.urx), std::min(r.lly, r.ury), std::max(r.llx, r.urx), std::max(r.lly, r.ury)};
}

// Whether the rectangle, drawn under the matrix, holds every corner of the box (and so, being
// convex once transformed, all of it).
bool covers(const Matrix& m, const Box& rect, const Box& box) {
    const double det = m.a * m.d - m.b * m.c;
    if (!std::isfinite(det) || std::abs(det) < 1e-12) return false;
    for (const double px : {box.x0, box.x1}) {
        for (const double py : {box.y0, box.y1}) {
            const double dx = px - m.e, dy = py - m.f;
            const double u = (dx * m.d - dy * m.c) / det;
            const double v = (dy * m.a - dx * m.b) / det;
            if (!(u >= rect.x0 && u <= rect.x1 && v >= rect.y0 && v <= rect.y1)) return false;
        }
    }
    return true;
}

struct GraphicsState {
    Matrix ctm;
    bool clipCoversPage = true;
    bool plainFillColour = true;  // DeviceGray black to begin with
    bool fullOpacity = true;
    bool unmasked = true;
};

class CoverReader : public QPDFObjectHandle::ParserCallbacks {
public:
    CoverReader(QPDFObjectHandle resources, Box page) : resources_(std::move(resources)), page_(page) {}

    bool covered() const { return covered_; }

    void handleObject(QPDFObjectHandle object) override {
        if (!object.isOperator()) {
            operands_.push_back(object);
            return;
        }
        const bool carryOn = ++operators_ <= operatorLimit && apply(object.getOperatorValue());
        operands_.clear();
        if (!carryOn) terminateParsing();
    }
    void handleEOF() override {}

private:
    std::optional<double> number(size_t i) {
        if (i >= operands_.size() || !operands_[i].isNumber()) return std::nullopt;
        const double n = operands_[i].getNumericValue();
        return std::isfinite(n) ? std::optional<double>(n) : std::nullopt;
    }
    std::optional<std::string> name(size_t i) {
        if (i >= operands_.size() || !operands_[i].isName()) return std::nullopt;
        return operands_[i].getName();
    }
    QPDFObjectHandle resource(const char* category, const std::string& key) {
        if (!resources_.isDictionary()) return QPDFObjectHandle::newNull();
        QPDFObjectHandle group = resources_.getKey(category);
        return group.isDictionary() ? group.getKey(key) : QPDFObjectHandle::newNull();
    }

    // False stops the reading: either the answer is known, or it cannot be had.
    bool apply(const std::string& op) {
        if (op == "q") {
            saved_.push_back(state_);
        } else if (op == "Q") {
            if (!saved_.empty()) {
                state_ = saved_.back();
                saved_.pop_back();
            }
        } else if (op == "cm") {
            Matrix m;
            double* fields[] = {&m.a, &m.b, &m.c, &m.d, &m.e, &m.f};
            for (size_t i = 0; i < 6; ++i) {
                const auto n = number(i);
                if (!n) return false;
                *fields[i] = *n;
            }
            state_.ctm = then(m, state_.ctm);
        } else if (op == "gs") {
            return setExtendedState();
        } else if (op == "g" || op == "rg" || op == "k") {
            state_.plainFillColour = true;
        } else if (op == "cs") {
            const auto space = name(0);
            if (!space) return false;
            state_.plainFillColour = isPlainSpace(*space);
        } else if (op == "sc" || op == "scn") {
            // A pattern is named; its cells may leave holes.
            for (auto& operand : operands_)
                if (!operand.isNumber()) state_.plainFillColour = false;
        } else if (op == "re") {
            Box r;
            const auto x = number(0), y = number(1), w = number(2), h = number(3);
            if (!x || !y || !w || !h) return false;
            r = {std::min(*x, *x + *w), std::min(*y, *y + *h), std::max(*x, *x + *w), std::max(*y, *y + *h)};
            ++rectangles_;
            rectangle_ = r;
        } else if (op == "m" || op == "l" || op == "c" || op == "v" || op == "y" || op == "h") {
            otherPath_ = true;
        } else if (op == "W" || op == "W*") {
            clipPending_ = true;
        } else if (op == "f" || op == "F" || op == "f*" || op == "B" || op == "B*" || op == "b" || op == "b*") {
            if (pathCoversPage() && state_.clipCoversPage && state_.plainFillColour && state_.fullOpacity &&
                state_.unmasked && !hidden()) {
                covered_ = true;
                return false;
            }
            endPath();
        } else if (op == "n" || op == "S" || op == "s") {
            endPath();
        } else if (op == "Tr") {
            // Modes 4 to 7 add the text to the clip.
            const auto mode = number(0);
            if (!mode) return false;
            if (*mode >= 4) state_.clipCoversPage = false;
        } else if (op == "BDC" || op == "BMC") {
            const auto tag = name(0);
            optional_.push_back(tag && *tag == "/OC");
        } else if (op == "EMC") {
            if (!optional_.empty()) optional_.pop_back();
        } else if (!isHarmless(op)) {
            return false;
        }
        return true;
    }

    bool setExtendedState() {
        const auto key = name(0);
        if (!key) return false;
        QPDFObjectHandle state = resource("/ExtGState", *key);
        if (!state.isDictionary()) return false;
        if (state.hasKey("/ca")) {
            QPDFObjectHandle alpha = state.getKey("/ca");
            if (!alpha.isNumber()) return false;
            state_.fullOpacity = alpha.getNumericValue() >= 1.0;
        }
        if (state.hasKey("/SMask")) {
            QPDFObjectHandle mask = state.getKey("/SMask");
            state_.unmasked = mask.isName() && mask.getName() == "/None";
        }
        return true;
    }

    bool isPlainSpace(const std::string& space) {
        if (space == "/DeviceGray" || space == "/DeviceRGB" || space == "/DeviceCMYK") return true;
        QPDFObjectHandle named = resource("/ColorSpace", space);
        if (named.isName()) {
            const std::string device = named.getName();
            return device == "/DeviceGray" || device == "/DeviceRGB" || device == "/DeviceCMYK";
        }
        // Separation and DeviceN may name no colorant at all, and then paint nothing.
        if (!named.isArray() || named.getArrayNItems() < 1 || !named.getArrayItem(0).isName()) return false;
        const std::string family = named.getArrayItem(0).getName();
        return family == "/ICCBased" || family == "/CalRGB" || family == "/CalGray" || family == "/Lab";
    }

    static bool isHarmless(const std::string& op) {
        // Painting adds to what is opaque and never takes from it; these change nothing this
        // reading follows (the stroking colour, line style, text positioning, marked points).
        static const char* const ops[] = {"w",  "J",  "j",  "M",  "d",  "ri", "i",  "d0", "d1", "BT", "ET", "Tc",
                                          "Tw", "Tz", "TL", "Tf", "Ts", "Td", "TD", "Tm", "T*", "Tj", "TJ", "'",
                                          "\"", "Do", "sh", "BI", "ID", "EI", "MP", "DP", "BX", "EX", "CS", "SC",
                                          "SCN", "G", "RG", "K"};
        return std::any_of(std::begin(ops), std::end(ops), [&](const char* known) { return op == known; });
    }

    bool pathCoversPage() const { return rectangles_ == 1 && !otherPath_ && covers(state_.ctm, rectangle_, page_); }

    bool hidden() const { return std::find(optional_.begin(), optional_.end(), true) != optional_.end(); }

    void endPath() {
        if (clipPending_) state_.clipCoversPage = state_.clipCoversPage && pathCoversPage();
        clipPending_ = false;
        rectangles_ = 0;
        otherPath_ = false;
    }

    QPDFObjectHandle resources_;
    Box page_;
    GraphicsState state_;
    std::vector<GraphicsState> saved_;
    std::vector<QPDFObjectHandle> operands_;
    std::vector<bool> optional_;
    int operators_ = 0;
    int rectangles_ = 0;
    Box rectangle_;
    bool otherPath_ = false;
    bool clipPending_ = false;
    bool covered_ = false;
};

bool isKnockoutGroup(QPDFObjectHandle page) {
    QPDFObjectHandle group = page.getKey("/Group");
    if (!group.isDictionary() || !group.hasKey("/K")) return false;
    QPDFObjectHandle knockout = group.getKey("/K");
    return !knockout.isBool() || knockout.getBoolValue();
}

}  // namespace

bool pageIsOpaquelyCovered(const std::filesystem::path& path, int pageIndex) {
    try {
        auto qpdf = QPDF::create();
        qpdf->setSuppressWarnings(true);
        qpdf->processFile(path.c_str());
        auto pages = QPDFPageDocumentHelper(*qpdf).getAllPages();
        if (pageIndex < 0 || pageIndex >= static_cast<int>(pages.size())) return false;
        QPDFPageObjectHelper page = pages[static_cast<size_t>(pageIndex)];
        if (isKnockoutGroup(page.getObjectHandle())) return false;
        QPDFObjectHandle media = page.getMediaBox(), crop = page.getCropBox();
        if (!media.isRectangle() || !crop.isRectangle()) return false;
        // The renderer shows the crop box; both are covered whatever it does with them.
        const Box m = normalised(media.getArrayAsRectangle()), c = normalised(crop.getArrayAsRectangle());
        Box box{std::min(m.x0, c.x0) + edgeMargin, std::min(m.y0, c.y0) + edgeMargin,
                std::max(m.x1, c.x1) - edgeMargin, std::max(m.y1, c.y1) - edgeMargin};
        if (!(box.x1 > box.x0 && box.y1 > box.y0)) return false;
        CoverReader reader(page.getAttribute("/Resources", false), box);
        page.parseContents(&reader);
        return reader.covered();
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace calvoro::pdf
