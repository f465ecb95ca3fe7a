#include <gtest/gtest.h>

#include <regex>

#include "core/conversion_error.h"
#include "engine/conversion_engine.h"
#include "engine/engine_test_support.h"

namespace fs = std::filesystem;
using namespace calvoro;
using namespace calvoro::testing;
using Level = ConversionLogger::Level;

namespace {

class EngineLogTest : public ::testing::Test {
protected:
    ConversionJob job(SupportedFormat from, std::optional<SupportedFormat> to) { return makeJob(dir_ / "photo.png", from, to); }
    fs::path out() const { return dir_ / "out"; }

    // Runs the engine and returns the ConversionError it threw.
    ConversionError convertExpectingError(const ConversionJob& j) {
        try {
            ConversionEngine::convert(j, out(), noProgress, fake_.collaborators());
        } catch (const ConversionError& e) {
            return e;
        }
        ADD_FAILURE() << "no ConversionError thrown";
        return ConversionError::conversionFailed();
    }

    TempDir dir_;
    FakeEngine fake_;
    LogCapture log_;
};

void expectEntry(const ConversionLogger::LogEntry& e, Level level, const std::string& category, const std::string& message,
                 const std::optional<std::string>& detail) {
    EXPECT_EQ(e.level, level) << e.message;
    EXPECT_EQ(e.category, category) << e.message;
    EXPECT_EQ(e.message, message);
    EXPECT_EQ(e.detail, detail) << e.message;
}

void expectMatches(const std::string& text, const std::string& pattern) {
    EXPECT_TRUE(std::regex_match(text, std::regex(pattern))) << text << "\n  does not match  " << pattern;
}

}  // namespace

TEST_F(EngineLogTest, AJobWithoutTargetWritesOnlyTheRefusal) {
    fake_.produce = [](const fs::path&) -> fs::path { throw std::logic_error("router called"); };
    const ConversionError e = convertExpectingError(job(SupportedFormat::png, std::nullopt));
    EXPECT_EQ(e.kind(), ConversionError::Kind::noTargetSelected);
    const auto entries = log_.entries();
    ASSERT_EQ(entries.size(), 1u);
    expectEntry(entries[0], Level::error, "Engine", "No target format selected", "photo.png");
    EXPECT_EQ(fake_.dispatchCalls, 0);
    EXPECT_FALSE(fs::exists(out()));
}

TEST_F(EngineLogTest, AnOutputFolderBelowAFileCannotBeCreated) {
    writeFile(dir_ / "plain", std::string("x"));
    try {
        ConversionEngine::convert(job(SupportedFormat::png, SupportedFormat::jpeg), dir_ / "plain" / "sub", noProgress,
                                  fake_.collaborators());
        FAIL() << "no error";
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), ConversionError::Kind::failedToCreateOutput);
    }
    const auto entries = log_.entries();
    ASSERT_EQ(entries.size(), 2u);
    expectEntry(entries[0], Level::info, "Engine", "Starting: PNG \u2192 JPEG", "photo.png");
    EXPECT_EQ(entries[1].message, "Cannot create output directory");
    EXPECT_EQ(entries[1].level, Level::error);
    ASSERT_TRUE(entries[1].detail);
    EXPECT_EQ(entries[1].detail->rfind((dir_ / "plain" / "sub").string() + " \u2014 ", 0), 0u) << *entries[1].detail;
    EXPECT_EQ(fake_.dispatchCalls, 0);
}

TEST_F(EngineLogTest, AConverterErrorIsLoggedUnderTheSourceCategoryAndRethrownUnchanged) {
    fake_.produce = [](const fs::path&) -> fs::path { throw ConversionError::unsupportedConversion("PNG", "JPEG"); };
    const ConversionError e = convertExpectingError(job(SupportedFormat::png, SupportedFormat::jpeg));
    EXPECT_EQ(e.kind(), ConversionError::Kind::unsupportedConversion);
    EXPECT_STREQ(e.what(), ConversionError::unsupportedConversion("PNG", "JPEG").what());
    const auto entries = log_.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].level, Level::error);
    EXPECT_EQ(entries[1].category, "Image");
    expectMatches(entries[1].message, "Failed after \\d+\\.\\ds: Converting PNG \u2192 JPEG is not supported\\.");
    EXPECT_EQ(entries[1].detail, "photo.png (PNG \u2192 JPEG)");
    EXPECT_TRUE(fs::is_directory(out())) << "the folder stays";
}

TEST_F(EngineLogTest, TheFailureCategoryFollowsTheSourceNotTheTarget) {
    fake_.produce = [](const fs::path&) -> fs::path { throw ConversionError::conversionFailed(); };
    convertExpectingError(job(SupportedFormat::pdf, SupportedFormat::pdfPagePng));
    convertExpectingError(job(SupportedFormat::mp4, SupportedFormat::extractAudio));
    convertExpectingError(job(SupportedFormat::woff2, SupportedFormat::ttf));
    const auto entries = log_.entries();
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[1].category, "Document");
    EXPECT_EQ(entries[3].category, "Video");
    EXPECT_EQ(entries[5].category, "Font");
    EXPECT_EQ(entries[3].detail, "photo.png (MP4 \u2192 Extract Audio (M4A))");
}

TEST_F(EngineLogTest, FileSystemErrorsReachTheUserInTheProgramsWords) {
    fake_.produce = [](const fs::path& d) { return d / "never-written.jpg"; };
    EXPECT_EQ(convertExpectingError(job(SupportedFormat::png, SupportedFormat::jpeg)).kind(), ConversionError::Kind::failedToCreateOutput);
    const auto entries = log_.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].level, Level::error);
    EXPECT_EQ(entries[1].message.rfind("Failed after ", 0), 0u);
    // The library's own text, with the work folder's path, is kept for the log alone.
    EXPECT_NE(entries[1].message.find("never-written.jpg"), std::string::npos) << entries[1].message;
    EXPECT_EQ(fake_.validateCalls, 0);

    // A source that fails while it is read is named as the source.
    const ConversionJob unreadable = job(SupportedFormat::png, SupportedFormat::jpeg);
    fake_.produce = [&](const fs::path&) -> fs::path {
        throw fs::filesystem_error("cannot read file", unreadable.sourceURL, std::make_error_code(std::errc::io_error));
    };
    EXPECT_EQ(convertExpectingError(unreadable).kind(), ConversionError::Kind::failedToLoadFile);
}

TEST_F(EngineLogTest, AFolderOfOnlyHiddenEntriesIsEmpty) {
    fake_.produce = [](const fs::path& d) {
        fs::create_directories(d / "report (PNG Pages)");
        writeFile(d / "report (PNG Pages)" / ".DS_Store", std::string("x"));
        return d / "report (PNG Pages)";
    };
    const ConversionError e = convertExpectingError(job(SupportedFormat::pdf, SupportedFormat::pdfPagePng));
    EXPECT_EQ(e.kind(), ConversionError::Kind::emptyOutput);
    const auto entries = log_.entries();
    ASSERT_EQ(entries.size(), 3u);
    expectEntry(entries[1], Level::error, "Engine", "Output folder is empty \u2014 no pages were written", "report (PNG Pages)");
    expectMatches(entries[2].message, R"(Failed after \d+\.\ds: Conversion produced an empty file\.)");
    EXPECT_EQ(entries[2].category, "Document");
    EXPECT_TRUE(fs::is_empty(out())) << "a failed conversion leaves nothing behind";
    EXPECT_EQ(fake_.validateCalls, 0);
}

TEST_F(EngineLogTest, AFolderWithOnePageCompletesWithoutValidation) {
    fake_.produce = [](const fs::path& d) {
        fs::create_directories(d / "report (pages)");
        writeFile(d / "report (pages)" / "page_001.pdf", std::string("%PDF"));
        return d / "report (pages)";
    };
    const fs::path result =
        ConversionEngine::convert(job(SupportedFormat::pdf, SupportedFormat::pdfSplit), out(), noProgress, fake_.collaborators());
    EXPECT_EQ(result, out() / "report (pages)");
    const auto entries = log_.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].level, Level::success);
    EXPECT_EQ(entries[1].category, "Engine");
    expectMatches(entries[1].message, "Completed in \\d+\\.\\ds \u2192 folder \\(1 files\\)");
    EXPECT_EQ(entries[1].detail, "report (pages)");
    EXPECT_EQ(fake_.validateCalls, 0);
}

TEST_F(EngineLogTest, AZeroByteFileIsAWarningThenAFailureAndLeavesNothing) {
    fake_.produce = [](const fs::path& d) {
        writeFile(d / "photo.jpg", std::string());
        return d / "photo.jpg";
    };
    const ConversionError e = convertExpectingError(job(SupportedFormat::png, SupportedFormat::jpeg));
    EXPECT_EQ(e.kind(), ConversionError::Kind::emptyOutput);
    const auto entries = log_.entries();
    ASSERT_EQ(entries.size(), 3u);
    expectEntry(entries[1], Level::warning, "Engine", "Output file is empty (0 bytes)", "photo.jpg");
    expectMatches(entries[2].message, R"(Failed after \d+\.\ds: Conversion produced an empty file\.)");
    EXPECT_TRUE(fs::is_empty(out()));
    EXPECT_EQ(fake_.validateCalls, 0);
}

TEST_F(EngineLogTest, AFailedValidationRemovesTheOutputAndSaysTheOriginalIsUntouched) {
    fake_.produce = [](const fs::path& d) {
        writeFile(d / "photo.jpg", std::string("not a jpeg"));
        return d / "photo.jpg";
    };
    fake_.verdict = Validator::ValidationStatus::failed("First image failed to decode");
    const ConversionError e = convertExpectingError(job(SupportedFormat::png, SupportedFormat::jpeg));
    EXPECT_EQ(e.kind(), ConversionError::Kind::corruptFile);
    EXPECT_STREQ(e.what(),
                 "File appears corrupt: The converted file didn't come out valid (First image failed to decode). "
                 "The original is untouched.");
    const auto entries = log_.entries();
    ASSERT_EQ(entries.size(), 3u);
    expectEntry(entries[1], Level::error, "Engine", "Output failed validation: First image failed to decode", "photo.jpg");
    EXPECT_EQ(entries[2].message.find("File appears corrupt: The converted file didn't come out valid ("),
              entries[2].message.find(": ") + 2);
    EXPECT_TRUE(fs::is_empty(out()));
}

TEST_F(EngineLogTest, SkippedAndPassedEndAlikeWithTheSize) {
    fake_.produce = [](const fs::path& d) {
        writeFile(d / "photo.jpg", std::string(1500, 'x'));
        return d / "photo.jpg";
    };
    // The second output finds the first one's name taken and takes the next.
    const std::pair<Validator::ValidationStatus, std::string> runs[] = {{Validator::ValidationStatus::skipped(), "photo.jpg"},
                                                                        {Validator::ValidationStatus::passed(), "photo (1).jpg"}};
    for (const auto& [verdict, name] : runs) {
        LogCapture log;
        fake_.verdict = verdict;
        EXPECT_EQ(ConversionEngine::convert(job(SupportedFormat::png, SupportedFormat::jpeg), out(), noProgress,
                                            fake_.collaborators()),
                  out() / name);
        const auto entries = log.entries();
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[1].level, Level::success);
        expectMatches(entries[1].message, "Completed in \\d+\\.\\ds \u2192 2 KB");
        EXPECT_EQ(entries[1].detail, name);
    }
    EXPECT_EQ(fake_.validateCalls, 2);
}

TEST_F(EngineLogTest, AnExistingOutputFolderIsSimplyUsedAndTheProgressHandlerPassedOn) {
    fs::create_directories(out());
    double seen = -1;
    ConversionEngine::Collaborators with = fake_.collaborators();
    with.dispatch = [](const ConversionJob&, SupportedFormat, const fs::path& d, const ConversionEngine::ProgressHandler& p,
                       const CancellationToken&) {
        p(0.5);
        writeFile(d / "a.jpg", std::string("x"));
        return d / "a.jpg";
    };
    ConversionEngine::convert(job(SupportedFormat::png, SupportedFormat::jpeg), out(), [&](double v) { seen = v; }, with);
    EXPECT_EQ(seen, 0.5);
}
