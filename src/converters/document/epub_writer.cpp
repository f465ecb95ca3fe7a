#include <QByteArray>
#include <QString>

#include <ctime>
#include <vector>

#include "converters/document/document_converter.h"
#include "converters/document/document_files.h"
#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "core/text_util.h"
#include "core/utf8.h"
#include "core/uuid.h"
#include "core/work_folder.h"
#include "platform/text/encodings.h"
#include "platform/text/html.h"
#include "platform/text/regex.h"
#include "platform/text/xml_text.h"
#include "platform/zip/zip_archive.h"

namespace calvoro::DocumentConverter {

namespace fs = std::filesystem;

namespace {

constexpr const char* xhtmlNamespace = "http://www.w3.org/1999/xhtml";
constexpr const char* opfNamespace = "http://www.idpf.org/2007/opf";
constexpr const char* opsNamespace = "http://www.idpf.org/2007/ops";
constexpr const char* dublinCoreNamespace = "http://purl.org/dc/elements/1.1/";

const std::string containerXML =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
    "  <rootfiles>\n"
    "    <rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>\n"
    "  </rootfiles>\n"
    "</container>";

// A picture of the chapter, kept as a file of the package.
struct PackagedImage {
    std::string href;  // relative to OEBPS
    std::string mediaType;
    QByteArray bytes;
    std::string sizeAttributes;  // width and height as the page gave them
};

// Private-use characters around a number: text that no document holds by chance.
std::string imageMarker(size_t number) { return "\xEE\x80\x80" + std::to_string(number) + "\xEE\x80\x81"; }

std::string packageDocument(const std::string& identifier, const std::string& title, const std::string& modified,
                            const std::vector<PackagedImage>& images) {
    std::string imageItems;
    for (size_t i = 0; i < images.size(); ++i)
        imageItems += "    <item id=\"img" + std::to_string(i + 1) + "\" href=\"" + images[i].href + "\" media-type=\"" + images[i].mediaType + "\"/>\n";
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") +
           "<package xmlns=\"" + opfNamespace + "\" version=\"3.0\" unique-identifier=\"bookid\">\n" +
           "  <metadata xmlns:dc=\"" + dublinCoreNamespace + "\">\n" +
           "    <dc:identifier id=\"bookid\">urn:uuid:" + identifier + "</dc:identifier>\n" +
           "    <dc:title>" + title + "</dc:title>\n" +
           "    <dc:language>en</dc:language>\n" +
           "    <meta property=\"dcterms:modified\">" + modified + "</meta>\n" +
           "  </metadata>\n" +
           "  <manifest>\n" +
           "    <item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>\n" +
           "    <item id=\"chap1\" href=\"chapter1.xhtml\" media-type=\"application/xhtml+xml\"/>\n" + imageItems +
           "  </manifest>\n" +
           "  <spine>\n" +
           "    <itemref idref=\"chap1\"/>\n" +
           "  </spine>\n" +
           "</package>";
}

std::string navigationDocument(const std::string& title) {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") + "<!DOCTYPE html>\n" + "<html xmlns=\"" + xhtmlNamespace +
           "\" xmlns:epub=\"" + opsNamespace + "\">\n" + "<head><title>Navigation</title></head>\n" + "<body>\n" +
           "  <nav epub:type=\"toc\"><ol><li><a href=\"chapter1.xhtml\">" + title + "</a></li></ol></nav>\n" + "</body>\n" +
           "</html>";
}

std::string isoTimestampNow() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return buffer;
}

std::string htmlOfSource(const Path& source, SupportedFormat format, const std::string& title) {
    auto wrapText = [&](const std::string& body) {
        return "<html><head><meta charset=\"utf-8\"/><title>" + htmlEscape(title) + "</title></head><body><pre>" + htmlEscape(body) +
               "</pre></body></html>";
    };
    switch (format) {
        case SupportedFormat::pdf: return wrapText(extractPDFText(source));
        case SupportedFormat::txt: return wrapText(readTextFile(source));
        case SupportedFormat::html: return readTextFile(source);
        case SupportedFormat::markdown: {
            Path temp = files::temporaryFile(".html");
            files::RemoveOnExit cleanup(temp);
            markdownToHTML(source, temp);
            return readTextFile(temp);
        }
        case SupportedFormat::rtf:
        case SupportedFormat::docx: {
            auto string = readRichText(source, format == SupportedFormat::rtf ? DocumentType::rtf : DocumentType::officeOpenXML);
            std::string html = text::writeHTML(string);
            return isValidUTF8(html) ? html : "<html><body></body></html>";
        }
        default: throw ConversionError::unsupportedConversion(format.displayName(), "EPUB");
    }
}

// Pictures that the page holds as data: URLs become files of the package, which a book must list.
// Each picture is held in the text by a marker while the chapter is made well-formed, and put
// back as an image of the package afterwards.
std::string packageImages(const std::string& html, std::vector<PackagedImage>& images) {
    static const text::Regex dataImage(R"(<img\b[^>]*?\bsrc\s*=\s*(["'])data:(image/(?:png|jpeg|gif));base64,([A-Za-z0-9+/=\s]*)\1[^>]*>)", true);
    static const text::Regex width(R"(\bwidth\s*=\s*["']?([0-9]+))", true);
    static const text::Regex height(R"(\bheight\s*=\s*["']?([0-9]+))", true);
    return dataImage.replaceAllWith(html, [&](std::string_view text, const text::Regex::Match& m) {
        auto group = [&](size_t i) { return text.substr(m.groups[i].first, m.groups[i].second - m.groups[i].first); };
        std::string type = QString::fromUtf8(group(1).data(), static_cast<qsizetype>(group(1).size())).toLower().toStdString();
        std::string extension = type == "image/jpeg" ? ".jpeg" : type == "image/gif" ? ".gif" : ".png";
        PackagedImage image{"images/image" + std::to_string(images.size() + 1) + extension, type,
                            QByteArray::fromBase64(QByteArray(group(2).data(), static_cast<qsizetype>(group(2).size()))), {}};
        // The tag without the picture's data, where its size is looked up.
        std::string tag = std::string(text.substr(m.begin, m.groups[1].first - m.begin)) + std::string(text.substr(m.groups[2].second, m.end - m.groups[2].second));
        for (const auto* size : {&width, &height})
            if (auto s = size->firstMatch(tag))
                image.sizeAttributes += std::string(size == &width ? " width=\"" : " height=\"") +
                                        tag.substr(s->groups[0].first, s->groups[0].second - s->groups[0].first) + "\"";
        images.push_back(std::move(image));
        return imageMarker(images.size());
    });
}

std::string withPackageImages(std::string chapter, const std::vector<PackagedImage>& images) {
    for (size_t i = 0; i < images.size(); ++i)
        chapter = replacingOccurrences(chapter, imageMarker(i + 1),
                                       "<img src=\"" + images[i].href + "\" alt=\"\"" + images[i].sizeAttributes + "/>");
    return chapter;
}

}  // namespace

namespace detail {

std::string markupEscape(std::string_view raw) {
    std::string clean = text::removingXMLForbiddenCharacters(std::string(raw));
    std::string out;
    for (char c : clean) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out.push_back(c);
        }
    }
    return out;
}

std::string wrapAsXHTML(const std::string& html, const std::string& title) {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") + "<!DOCTYPE html>\n" + "<html xmlns=\"" + xhtmlNamespace + "\">\n" +
           "<head><title>" + markupEscape(title) + "</title><meta charset=\"utf-8\"/></head>\n" + "<body>\n" + toXHTMLFragment(html) +
           "\n</body>\n" + "</html>";
}

}  // namespace detail

void anyToEPUB(const Path& source, SupportedFormat sourceFormat, const Path& output) {
    ConversionLogger::shared().info("Building EPUB", "Document", lastPathComponent(output));
    std::string title = deletingPathExtension(lastPathComponent(source));
    std::vector<PackagedImage> images;
    std::string html = packageImages(htmlOfSource(source, sourceFormat, title), images);

    const WorkFolder work(WorkFolder::temporaryDirectory());
    const Path& folder = work.path();
    files::writeAtomically(folder / "mimetype", "application/epub+zip");
    fs::create_directories(folder / "META-INF");
    files::writeAtomically(folder / "META-INF" / "container.xml", containerXML);
    fs::create_directories(folder / "OEBPS");
    std::string escapedTitle = detail::markupEscape(title);
    files::writeAtomically(folder / "OEBPS" / "content.opf", packageDocument(Uuid().uuidString(), escapedTitle, isoTimestampNow(), images));
    files::writeAtomically(folder / "OEBPS" / "nav.xhtml", navigationDocument(escapedTitle));
    files::writeAtomically(folder / "OEBPS" / "chapter1.xhtml", withPackageImages(detail::wrapAsXHTML(html, title), images));
    if (!images.empty()) fs::create_directories(folder / "OEBPS" / "images");
    for (const auto& image : images) files::writeBytes(folder / "OEBPS" / image.href, std::string_view(image.bytes.constData(), image.bytes.size()));
    zip::createZIP(folder, output, "mimetype");
}

}  // namespace calvoro::DocumentConverter
