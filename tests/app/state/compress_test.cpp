// The compress flow from the sheet, the figures the views bind to, and toasts.
#include "app/state/state_test_support.h"
#include "engine/test_fixtures.h"

using namespace calvoro;
using namespace calvoro::testing;
namespace fs = std::filesystem;

namespace {

class Compress : public StateTest {
protected:
    void SetUp() override {
        StateTest::SetUp();
        fs::create_directories(dir / "seeds");
        wav = ConversionTester::makeSeedWAV(dir / "seeds");
    }
    fs::path wav;
};

}  // namespace

TEST_F(Compress, OnlyCompressibleJobsOpenTheSheet) {
    writeFile(dir / "a.zip", std::string("PK"));
    model->addFiles({dir / "a.zip", wav});
    model->beginCompress(job(0));
    EXPECT_FALSE(model->compressingJob());
    EXPECT_FALSE(model->isAnyModalOpen());
    model->beginCompress(job(1));
    ASSERT_TRUE(model->compressingJob());
    EXPECT_EQ(model->compressingJob()->id, job(1).id);
    EXPECT_TRUE(model->isAnyModalOpen());

    std::optional<std::vector<CompressionEstimate>> estimates;
    model->requestEstimates(job(1), nullptr, [&](std::vector<CompressionEstimate> e) { estimates = std::move(e); });
    ASSERT_TRUE(waitUntil([&] { return estimates.has_value(); }));
    for (const auto& e : *estimates) EXPECT_TRUE(e.isEstimate);
}

TEST_F(Compress, ACompressedCopyCompletesItsJobAndLeavesTheSourceAlone) {
    model->addFiles({wav});
    const auto before = readFile(wav);
    model->compress(job(0), CompressionLevel::tiny);
    EXPECT_EQ(job(0).status, ConversionStatus::converting);
    ASSERT_TRUE(waitUntil([&] { return job(0).status != ConversionStatus::converting; }));
    ASSERT_EQ(job(0).status, ConversionStatus::completed) << job(0).errorMessage.value_or("");
    EXPECT_EQ(job(0).progress, 1.0);
    ASSERT_TRUE(job(0).outputURL);
    EXPECT_NE(job(0).outputURL->filename().string().find(" (compressed)"), std::string::npos);
    EXPECT_EQ(job(0).outputSize, static_cast<int64_t>(fs::file_size(*job(0).outputURL)));
    EXPECT_EQ(readFile(wav), before);
    EXPECT_EQ(model->statsTotalConversions(), 0) << "compression counts no statistics";
    EXPECT_TRUE(model->recents().empty());
}

TEST_F(Compress, AFailureMarksTheJobAndLogs) {
    writeFile(dir / "broken.wav", std::string("RIFF....WAVEnothing"));
    model->addFiles({dir / "broken.wav"});
    model->compress(job(0), CompressionLevel::balanced);
    ASSERT_TRUE(waitUntil([&] { return job(0).status != ConversionStatus::converting; }));
    EXPECT_EQ(job(0).status, ConversionStatus::failed);
    ASSERT_TRUE(job(0).errorMessage);
    const auto entries = ConversionLogger::shared().entries();
    const auto it = std::find_if(entries.begin(), entries.end(), [](const auto& e) { return e.category == "Compress"; });
    ASSERT_NE(it, entries.end());
    EXPECT_EQ(it->message, "Compress failed: " + *job(0).errorMessage);
    EXPECT_EQ(it->detail, "broken.wav");

    // A picture cut short is refused by the sheet's estimates and by its compression alike.
    ASSERT_TRUE(peerInstalled("convert"));
    const auto made = run("cd " + shellQuote(dir.path().string()) +
                          " && convert -seed 7 -size 300x300 plasma:fractal p.png && head -c 3000 p.png > cut.png");
    ASSERT_EQ(made.status, 0) << made.output;
    model->addFiles({dir / "cut.png"});
    const std::string truncated =
        "File appears corrupt: cut.png is truncated \u2014 the file is missing its ending, so only part of the image is present.";
    std::optional<std::string> refused;
    model->requestEstimates(job(1), nullptr, [](std::vector<CompressionEstimate>) {}, [&](std::string why) { refused = why; });
    ASSERT_TRUE(waitUntil([&] { return refused.has_value(); }));
    EXPECT_EQ(*refused, truncated);
    model->compress(job(1), CompressionLevel::balanced);
    ASSERT_TRUE(waitUntil([&] { return job(1).status != ConversionStatus::converting; }));
    EXPECT_EQ(job(1).status, ConversionStatus::failed);
    EXPECT_EQ(job(1).errorMessage, truncated);
    EXPECT_TRUE(fs::is_empty(out()));
}

TEST_F(Compress, FiguresAndToastDismissal) {
    EXPECT_FALSE(model->hasJobs());
    EXPECT_FALSE(model->canConvert());
    model->addFiles({wav});
    EXPECT_TRUE(model->hasJobs());
    EXPECT_TRUE(model->canConvert());
    EXPECT_EQ(model->pendingCount(), 1);
    EXPECT_FALSE(model->canCancel());
    model->setShowSettingsPopover(true);
    EXPECT_TRUE(model->isAnyModalOpen());

    model->showToast(Toast(Toast::Kind::success, "First"));
    const Toast second(Toast::Kind::error, "Second");
    model->showToast(second);
    EXPECT_EQ(model->toast(), second);
    ASSERT_TRUE(waitUntil([&] { return !model->toast(); }, std::chrono::seconds(10)));

    model->toggleLogPanel();
    EXPECT_TRUE(model->showLogPanel());
    model->hideLogPanel();
    EXPECT_FALSE(model->showLogPanel());
}
