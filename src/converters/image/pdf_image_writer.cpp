#include "converters/image/pdf_image_writer.h"

#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/file_writing.h"
#include "core/text_util.h"

namespace calvoro {

namespace {

bool deflate(const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
    uLongf length = compressBound(static_cast<uLong>(in.size()));
    out.resize(length);
    if (compress2(out.data(), &length, in.data(), static_cast<uLong>(in.size()), 6) != Z_OK) return false;
    out.resize(length);
    return true;
}

std::string number(double v) {
    std::string s = formatC("%.4f", v);
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s;
}

class PdfBuilder {
public:
    int begin() {
        offsets_.push_back(data_.size());
        const int id = static_cast<int>(offsets_.size());
        append(std::to_string(id) + " 0 obj\n");
        return id;
    }
    void end() { append("\nendobj\n"); }
    void append(const std::string& s) { data_.insert(data_.end(), s.begin(), s.end()); }
    void append(const std::vector<uint8_t>& b) { data_.insert(data_.end(), b.begin(), b.end()); }
    void stream(const std::string& dict, const std::vector<uint8_t>& body) {
        append("<< " + dict + " /Length " + std::to_string(body.size()) + " >>\nstream\n");
        append(body);
        append("\nendstream");
    }
    std::vector<uint8_t> finish(int root) {
        const size_t xref = data_.size();
        append("xref\n0 " + std::to_string(offsets_.size() + 1) + "\n0000000000 65535 f \n");
        for (size_t o : offsets_) append(formatC("%010zu 00000 n \n", o));
        append("trailer\n<< /Size " + std::to_string(offsets_.size() + 1) + " /Root " + std::to_string(root) + " 0 R >>\nstartxref\n" +
               std::to_string(xref) + "\n%%EOF\n");
        return std::move(data_);
    }

private:
    std::vector<uint8_t> data_;
    std::vector<size_t> offsets_;
};

}  // namespace

bool writeImagePDF(const imaging::RgbaImage& image, double pageWidth, double pageHeight, const std::filesystem::path& path) {
    if (image.empty()) return false;
    const size_t n = static_cast<size_t>(image.width) * image.height;
    std::vector<uint8_t> rgb(n * 3), alpha;
    const bool transparent = image.hasTransparency();
    if (transparent) alpha.resize(n);
    for (size_t i = 0; i < n; ++i) {
        rgb[i * 3] = image.pixels[i * 4];
        rgb[i * 3 + 1] = image.pixels[i * 4 + 1];
        rgb[i * 3 + 2] = image.pixels[i * 4 + 2];
        if (transparent) alpha[i] = image.pixels[i * 4 + 3];
    }
    std::vector<uint8_t> rgbPacked, alphaPacked;
    if (!deflate(rgb, rgbPacked) || (transparent && !deflate(alpha, alphaPacked))) return false;

    PdfBuilder pdf;
    pdf.append("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    // Objects: 1 catalog, 2 pages, 3 page, 4 contents, 5 image, 6 soft mask, 7 profile.
    const int catalog = pdf.begin();
    pdf.append("<< /Type /Catalog /Pages 2 0 R >>");
    pdf.end();
    pdf.begin();
    pdf.append("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    pdf.end();
    pdf.begin();
    pdf.append("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + number(pageWidth) + " " + number(pageHeight) +
               "] /Resources << /XObject << /Im0 5 0 R >> >> /Contents 4 0 R >>");
    pdf.end();
    // The page is white behind the picture, as a printed sheet would be.
    const std::string content = "1 g 0 0 " + number(pageWidth) + " " + number(pageHeight) + " re f q " + number(pageWidth) +
                                " 0 0 " + number(pageHeight) + " 0 0 cm /Im0 Do Q";
    pdf.begin();
    pdf.stream("", std::vector<uint8_t>(content.begin(), content.end()));
    pdf.end();
    const bool profile = !image.iccProfile.empty();
    const std::string colourSpace = profile ? "[/ICCBased 7 0 R]" : "/DeviceRGB";
    pdf.begin();
    pdf.stream("/Type /XObject /Subtype /Image /Width " + std::to_string(image.width) + " /Height " + std::to_string(image.height) +
                   " /ColorSpace " + colourSpace + " /BitsPerComponent 8 /Interpolate true /Filter /FlateDecode" +
                   (transparent ? " /SMask 6 0 R" : ""),
               rgbPacked);
    pdf.end();
    pdf.begin();
    if (transparent)
        pdf.stream("/Type /XObject /Subtype /Image /Width " + std::to_string(image.width) + " /Height " + std::to_string(image.height) +
                       " /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /FlateDecode",
                   alphaPacked);
    else
        pdf.append("null");
    pdf.end();
    pdf.begin();
    if (profile) {
        std::vector<uint8_t> packed;
        if (!deflate(image.iccProfile, packed)) return false;
        pdf.stream("/N 3 /Filter /FlateDecode", packed);
    } else {
        pdf.append("null");
    }
    pdf.end();
    const std::vector<uint8_t> bytes = pdf.finish(catalog);

    return files::writeAtomically(path, bytes.data(), bytes.size());
}

}  // namespace calvoro
