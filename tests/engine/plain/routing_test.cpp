#include <gtest/gtest.h>

#include "core/conversion_error.h"
#include "engine/conversion_engine.h"
#include "engine/engine_test_support.h"
#include "engine/job_routing.h"

using namespace calvoro;
using namespace calvoro::testing;
using routing::Operation;
using routing::routeFor;

namespace {
ConversionJob job(SupportedFormat from) { return makeJob("/nowhere/source", from, std::nullopt); }
}  // namespace

TEST(EngineRouting, EveryFormatHasARouteAndTheGroupsPickTheirConverter) {
    for (SupportedFormat f : SupportedFormat::allCases()) (void)routeFor(job(f), SupportedFormat::png);
    EXPECT_EQ(routeFor(job(SupportedFormat::pdf_image), SupportedFormat::png).operation, Operation::image);
    EXPECT_EQ(routeFor(job(SupportedFormat::svg), SupportedFormat::png).operation, Operation::image);
    EXPECT_EQ(routeFor(job(SupportedFormat::pdfPageJpeg), SupportedFormat::png).operation, Operation::image);
    // Tables and subtitles go straight to the data converter, which asks the documents module
    // only to print a PDF.
    for (SupportedFormat f : {SupportedFormat::csv, SupportedFormat::tsv, SupportedFormat::json, SupportedFormat::srt, SupportedFormat::vtt})
        for (SupportedFormat target : {SupportedFormat::txt, SupportedFormat::pdf})
            EXPECT_EQ(routeFor(job(f), target).operation, Operation::data) << f.rawValue();
    for (SupportedFormat f : {SupportedFormat::docx, SupportedFormat::pdfSplit})
        EXPECT_EQ(routeFor(job(f), SupportedFormat::txt).operation, Operation::document) << f.rawValue();
    EXPECT_EQ(routeFor(job(SupportedFormat::bz2), SupportedFormat::zip).operation, Operation::archive);
    EXPECT_EQ(routeFor(job(SupportedFormat::woff2), SupportedFormat::ttf).operation, Operation::font);
    EXPECT_EQ(routeFor(job(SupportedFormat::extractAudio), SupportedFormat::wav).operation, Operation::convertAudio);
    // An audio source with a video target is still the audio converter's to refuse.
    EXPECT_EQ(routeFor(job(SupportedFormat::flac), SupportedFormat::mp4).operation, Operation::convertAudio);
}

TEST(EngineRouting, PDFSourcesGoToPagesSplitOrTheDocumentConverter) {
    ConversionJob pdf = job(SupportedFormat::pdf);
    const auto pages = routeFor(pdf, SupportedFormat::pdfPagePng);
    EXPECT_EQ(pages.operation, Operation::imagePDFPages);
    EXPECT_EQ(pages.quality, 0.92);
    EXPECT_EQ(routeFor(pdf, SupportedFormat::pdfPageJpeg).operation, Operation::imagePDFPages);
    EXPECT_EQ(routeFor(pdf, SupportedFormat::pdfSplit).operation, Operation::splitPDF);
    EXPECT_EQ(routeFor(pdf, SupportedFormat::png).operation, Operation::document) << "image targets of a PDF too";
    EXPECT_EQ(routeFor(pdf, SupportedFormat::txt).operation, Operation::document);
    pdf.imageQuality = 0.5;
    EXPECT_EQ(routeFor(pdf, SupportedFormat::pdfPageJpeg).quality, 0.5);
}

TEST(EngineRouting, VideoSourcesSplitByTarget) {
    ConversionJob video = job(SupportedFormat::webm);
    EXPECT_EQ(routeFor(video, SupportedFormat::extractAudio).operation, Operation::extractAudio);
    EXPECT_EQ(routeFor(video, SupportedFormat::mov).operation, Operation::convertVideo);
    const auto gif = routeFor(video, SupportedFormat::gif);
    EXPECT_EQ(gif.operation, Operation::videoToGIF);
    EXPECT_EQ(gif.fps, 10.0);
    EXPECT_EQ(gif.maxWidth, 480);
    video.videoGifFPS = 15;
    video.videoGifWidth = 320;
    const auto custom = routeFor(video, SupportedFormat::gif);
    EXPECT_EQ(custom.fps, 15.0);
    EXPECT_EQ(custom.maxWidth, 320);
    EXPECT_FALSE(custom.progressBefore) << "media operations report their own progress";
}

TEST(EngineRouting, GIFBecomesVideoOnlyForTheThreeContainers) {
    const ConversionJob gif = job(SupportedFormat::gif);
    for (auto t : {SupportedFormat::mp4, SupportedFormat::mov, SupportedFormat::m4v})
        EXPECT_EQ(routeFor(gif, t).operation, Operation::gifToVideo);
    EXPECT_EQ(routeFor(gif, SupportedFormat::png).operation, Operation::image);
    EXPECT_EQ(routeFor(gif, SupportedFormat::avi).operation, Operation::image);
}

TEST(EngineRouting, ImageAndAudioSettingsPassOnWithTheirDefaults) {
    ConversionJob image = job(SupportedFormat::heic);
    auto r = routeFor(image, SupportedFormat::jpeg);
    EXPECT_EQ(r.quality, 0.92);
    EXPECT_FALSE(r.maxEdge);
    EXPECT_FALSE(r.stripMetadata);
    EXPECT_EQ(r.progressBefore, 0.3);
    image.imageQuality = 0.4;
    image.imageMaxEdge = 1024;
    image.stripMetadata = true;
    r = routeFor(image, SupportedFormat::jpeg);
    EXPECT_EQ(r.quality, 0.4);
    EXPECT_EQ(r.maxEdge, 1024);
    EXPECT_TRUE(r.stripMetadata);

    ConversionJob audio = job(SupportedFormat::wav);
    EXPECT_FALSE(routeFor(audio, SupportedFormat::aac).bitrate);
    audio.audioBitrate = 128000;
    EXPECT_EQ(routeFor(audio, SupportedFormat::aac).bitrate, 128000);
    EXPECT_EQ(routeFor(job(SupportedFormat::zip), SupportedFormat::tar).progressBefore, 0.2);
    EXPECT_EQ(routeFor(job(SupportedFormat::ttf), SupportedFormat::woff).progressBefore, 0.3);
}

TEST(EngineRouting, AFailingCoarseConversionReportsOnlyTheFirstStep) {
    calvoro::testing::TempDir dir;
    std::vector<double> seen;
    const ConversionJob missing = makeJob(dir / "missing.txt", SupportedFormat::txt, SupportedFormat::html);
    EXPECT_ANY_THROW(ConversionEngine::dispatch(missing, SupportedFormat::html, dir.path(), [&](double v) { seen.push_back(v); }));
    EXPECT_EQ(seen, std::vector<double>{0.3});
}
