#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "core/bzip2.h"
#include "core/format_capabilities.h"
#include "support/test_support.h"

using calvoro::FormatCapabilities;
using F = calvoro::SupportedFormat;

namespace {

struct ProbeCall {
    uint32_t id;
    std::filesystem::path path;
    bool existed;
};

class AudioProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        oldTmp_ = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
        setenv("TMPDIR", dir_.path().c_str(), 1);
        FormatCapabilities::resetForTesting();
    }
    void TearDown() override {
        if (oldTmp_.empty()) unsetenv("TMPDIR");
        else setenv("TMPDIR", oldTmp_.c_str(), 1);
        FormatCapabilities::registerAudioEncoderProbe(nullptr);
        FormatCapabilities::resetForTesting();
    }
    calvoro::testing::TempDir dir_;
    std::string oldTmp_;
};

}  // namespace

TEST_F(AudioProbeTest, ProbesFourFormatsOnceAndRemovesEveryFile) {
    std::vector<ProbeCall> calls;
    FormatCapabilities::registerAudioEncoderProbe([&](uint32_t id, const std::filesystem::path& path) {
        calls.push_back({id, path, std::filesystem::exists(path)});
        return id != FormatCapabilities::alacFormatID;
    });
    EXPECT_TRUE(FormatCapabilities::canProduce(F::flac));
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].path.filename(), "kx-cap-1718378851.flac");
    EXPECT_EQ(calls[1].path.filename(), "kx-cap-1633772320.m4a");
    EXPECT_EQ(calls[2].path.filename(), "kx-cap-1634492771.m4a");
    EXPECT_EQ(calls[3].path.filename(), "kx-cap-1819304813.wav");
    for (auto& c : calls) EXPECT_TRUE(c.existed);
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
    EXPECT_FALSE(FormatCapabilities::canEncodeAudio(FormatCapabilities::alacFormatID));
    EXPECT_TRUE(FormatCapabilities::canEncodeAudio(FormatCapabilities::lpcmFormatID));
    FormatCapabilities::canProduce(F::flac);
    EXPECT_EQ(calls.size(), 4u);
}

TEST_F(AudioProbeTest, PlantedFileIsNeverWrittenThrough) {
    auto planted = dir_.path() / "kx-cap-1718378851.flac";
    std::filesystem::create_symlink(dir_.path() / "victim", planted);
    int probed = 0;
    FormatCapabilities::registerAudioEncoderProbe([&](uint32_t, const std::filesystem::path&) {
        ++probed;
        return true;
    });
    EXPECT_FALSE(FormatCapabilities::canProduce(F::flac));
    EXPECT_EQ(probed, 3);
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "victim"));
}

TEST_F(AudioProbeTest, UnwritableTemporaryFolderMeansNoFlac) {
    setenv("TMPDIR", (dir_.path() / "missing").c_str(), 1);
    FormatCapabilities::registerAudioEncoderProbe([](uint32_t, const std::filesystem::path&) { return true; });
    EXPECT_FALSE(FormatCapabilities::canProduce(F::flac));
    EXPECT_TRUE(FormatCapabilities::canProduce(F::mp3));
}

TEST(Capabilities, ArchiveTargetsDropBz2WithoutTheLibrary) {
    ASSERT_TRUE(calvoro::BZip2::isAvailable());
    EXPECT_EQ(F(F::zip).possibleConversions().size(), 4u);
    calvoro::BZip2::simulateAbsenceForTesting(true);
    EXPECT_FALSE(FormatCapabilities::canProduce(F::bz2));
    for (auto f : {F::zip, F::tar, F::gzip, F::xz}) {
        auto list = F(f).possibleConversions();
        EXPECT_EQ(list.size(), 3u);
        EXPECT_EQ(std::count(list.begin(), list.end(), F(F::bz2)), 0);
    }
    EXPECT_EQ(F(F::bz2).possibleConversions().size(), 4u);
    calvoro::BZip2::simulateAbsenceForTesting(false);
}
