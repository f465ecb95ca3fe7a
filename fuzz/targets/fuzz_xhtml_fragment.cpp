#include <QXmlStreamReader>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "converters/document/document_converter.h"

// Whatever the HTML (in UTF-8, as the readers hand it on), the fragment is well-formed XML
// inside an element of its own.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view html(reinterpret_cast<const char*>(data), size);
    std::string fragment;
    try {
        fragment = calvoro::DocumentConverter::detail::toXHTMLFragment(html);
    } catch (const std::exception&) {
        return 0;
    }
    const QByteArray bytes(html.data(), static_cast<qsizetype>(html.size()));
    if (QString::fromUtf8(bytes).toUtf8() != bytes) return 0;
    QXmlStreamReader reader(QByteArray::fromStdString("<body xmlns=\"http://www.w3.org/1999/xhtml\">" + fragment + "</body>"));
    while (!reader.atEnd()) reader.readNext();
    if (reader.hasError()) {
        std::fprintf(stderr, "not well-formed (%s): %s\n", reader.errorString().toStdString().c_str(), fragment.c_str());
        std::abort();
    }
    return 0;
}
