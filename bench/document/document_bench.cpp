// Driver of bench/document/run: makes large inputs and times one conversion.
//   document_bench make-markdown <file> <megabytes>
//   document_bench make-docx <file> <megabytes of text>
//   document_bench convert <source> <from> <to> <outdir>     prints the seconds taken
#include <QApplication>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "converters/document/document_converter.h"
#include "platform/text/docx.h"
#include "platform/web/web_engine.h"

using namespace calvoro;

namespace {

std::string paragraph(size_t i) {
    return "Paragraph " + std::to_string(i) + " has **strong words**, *soft words* and `inline code`, with an ampersand & "
           "and angle <brackets> that need escaping, followed by a plain sentence to give it some length.";
}

int makeMarkdown(const char* path, double megabytes) {
    std::ofstream out(path, std::ios::binary);
    size_t target = static_cast<size_t>(megabytes * 1e6), written = 0;
    for (size_t i = 0; written < target; ++i) {
        std::string block = (i % 20 == 0 ? "# Chapter " + std::to_string(i / 20) + "\n\n" : i % 5 == 0 ? "## Section " + std::to_string(i) + "\n\n" : "") +
                            paragraph(i) + "\n" + paragraph(i + 1) + "\n\n";
        out << block;
        written += block.size();
    }
    return 0;
}

int makeDOCX(const char* path, double megabytes) {
    text::AttributedString s;
    text::Attributes body, bold, heading;
    body.font = text::systemFont(12);
    bold.font = text::systemFont(12);
    bold.font->bold = true;
    heading.font = text::systemFont(24);
    heading.font->bold = true;
    size_t target = static_cast<size_t>(megabytes * 1e6);  // megabytes of text, before the XML and the ZIP
    for (size_t i = 0; static_cast<size_t>(s.length()) < target; ++i) {
        if (i % 20 == 0) s.append("Chapter " + std::to_string(i / 20) + "\n", heading);
        s.append("Paragraph " + std::to_string(i) + " has ", body);
        s.append("strong words", bold);
        s.append(" and a plain sentence to give it some length, followed by another one.\n", body);
    }
    auto bytes = text::writeDOCX(s);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return 0;
}

int convert(const char* source, const char* from, const char* to, const char* outDir) {
    auto f = SupportedFormat::fromRawValue(from), t = SupportedFormat::fromRawValue(to);
    if (!f || !t) {
        std::fprintf(stderr, "unknown format\n");
        return 2;
    }
    auto start = std::chrono::steady_clock::now();
    DocumentConverter::convert(source, *f, *t, outDir);
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%.3f\n", took.count());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "make-markdown") return makeMarkdown(argv[2], std::stod(argv[3]));
    if (argc >= 4 && std::string(argv[1]) == "make-docx") return makeDOCX(argv[2], std::stod(argv[3]));
    if (argc < 6 || std::string(argv[1]) != "convert") {
        std::fprintf(stderr, "usage: document_bench make-markdown|make-docx <file> <MB> | convert <source> <from> <to> <outdir>\n");
        return 2;
    }
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The web engine is set up before the application object exists, as in the program.
    web::prepareWebEngine();
    // Conversions run on a worker while the main thread runs the event loop, as in the program.
    QApplication app(argc, argv);
    int status = 1;
    std::thread worker([&] {
        try {
            status = convert(argv[2], argv[3], argv[4], argv[5]);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "convert failed: %s\n", e.what());
        }
        QMetaObject::invokeMethod(&app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    });
    app.exec();
    worker.join();
    return status;
}
