#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QImage>

#include <fcntl.h>
#include <sys/stat.h>
#include <utime.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "app/ui/thumbnails/thumbnail_loader.h"
#include "app/ui/thumbnails/thumbnail_sources.h"
#include "app/ui/ui_test_support.h"
#include "platform/media/media_fixtures.h"
#include "support/pdf_objects.h"
#include "support/test_support.h"

namespace calvoro {
namespace {

using testing::onMain;
using testing::onMainValue;
using testing::TempDir;
using testing::waitUntil;
using Answer = std::optional<std::optional<QImage>>;

// A generator that counts its runs and, when gated, holds each run until released.
struct FakeGenerator {
    std::atomic<int> runs{0};
    std::atomic<bool> succeed{true};
    std::mutex mutex;
    std::condition_variable released;
    bool open = true;

    ThumbnailLoader::Generator function() {
        return [this](const std::filesystem::path&, int pixels) -> std::optional<QImage> {
            ++runs;
            std::unique_lock lock(mutex);
            released.wait(lock, [&] { return open; });
            if (!succeed) return std::nullopt;
            QImage image(pixels, pixels / 2, QImage::Format_RGBA8888);
            image.fill(Qt::red);
            return image;
        };
    }
    void gate(bool isOpen) {
        {
            std::lock_guard lock(mutex);
            open = isOpen;
        }
        released.notify_all();
    }
};

// Asks the loader on the main thread and keeps the answer once it arrives.
struct Request {
    std::shared_ptr<Answer> answer = std::make_shared<Answer>();
    Request(ThumbnailLoader* loader, const std::filesystem::path& file, QObject* context) {
        auto slot = answer;
        onMain([&] { loader->thumbnail(file, context, [slot](std::optional<QImage> image) { *slot = std::move(image); }); });
    }
    bool answered() const {
        return onMainValue<bool>([a = answer] { return a->has_value(); });
    }
};

class ThumbnailLoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        onMain([&] {
            context = std::make_unique<QObject>();
            loader = std::make_unique<ThumbnailLoader>(generator.function());
        });
        file = dir / "photo.png";
        testing::writeFile(file, std::string("not really a picture"));
    }
    void TearDown() override {
        generator.gate(true);
        onMain([&] {
            loader.reset();
            context.reset();
        });
    }

    FakeGenerator generator;
    TempDir dir;
    std::filesystem::path file;
    std::unique_ptr<QObject> context;
    std::unique_ptr<ThumbnailLoader> loader;
};

TEST_F(ThumbnailLoaderTest, SecondCallWhileGeneratingGetsNothingAndCachedImageIsReusedWithoutGenerating) {
    generator.gate(false);
    Request first(loader.get(), file, context.get());
    ASSERT_TRUE(waitUntil([&] { return generator.runs.load() == 1; }));
    EXPECT_FALSE(first.answered());

    Request second(loader.get(), file, context.get());
    ASSERT_TRUE(second.answered()) << "an in-flight file answers at once";
    EXPECT_FALSE(second.answer->value().has_value());

    // The second caller hears when the picture is in the cache.
    auto made = std::make_shared<QStringList>();
    onMain([&] { QObject::connect(loader.get(), &ThumbnailLoader::made, context.get(), [made](const QString& f) { *made << f; }); });
    generator.gate(true);
    ASSERT_TRUE(waitUntil([&] { return first.answer->has_value(); }));
    EXPECT_EQ(onMainValue<QStringList>([&] { return *made; }), QStringList{QString::fromStdString(file.string())});
    ASSERT_TRUE(first.answer->value().has_value());
    EXPECT_EQ(first.answer->value()->devicePixelRatio(), 2.0);
    EXPECT_EQ(first.answer->value()->width(), 72);

    Request third(loader.get(), file, context.get());
    ASSERT_TRUE(third.answered()) << "a cached picture answers at once";
    EXPECT_TRUE(third.answer->value().has_value());
    EXPECT_EQ(generator.runs.load(), 1);
    EXPECT_FALSE(onMainValue<bool>([&] { return loader->isInFlight(ThumbnailLoader::key(file)); }));
}

TEST_F(ThumbnailLoaderTest, TouchedFileIsGeneratedAgain) {
    Request first(loader.get(), file, context.get());
    ASSERT_TRUE(waitUntil([&] { return first.answer->has_value(); }));
    const QString before = ThumbnailLoader::key(file);

    struct utimbuf times {1'000'000'000, 1'000'000'000};
    ASSERT_EQ(::utime(file.c_str(), &times), 0);
    EXPECT_NE(ThumbnailLoader::key(file), before);

    Request second(loader.get(), file, context.get());
    ASSERT_TRUE(waitUntil([&] { return second.answer->has_value(); }));
    EXPECT_TRUE(second.answer->value().has_value());
    EXPECT_EQ(generator.runs.load(), 2);
}

TEST_F(ThumbnailLoaderTest, FailureCachesNothingLeavesNoKeyInFlightAndIsRetried) {
    generator.succeed = false;
    Request first(loader.get(), file, context.get());
    ASSERT_TRUE(waitUntil([&] { return first.answer->has_value(); }));
    EXPECT_FALSE(first.answer->value().has_value());
    EXPECT_FALSE(onMainValue<bool>([&] { return loader->isInFlight(ThumbnailLoader::key(file)); }));
    EXPECT_EQ(onMainValue<int>([&] { return static_cast<int>(loader->cache().count()); }), 0);

    generator.succeed = true;
    Request second(loader.get(), file, context.get());
    ASSERT_TRUE(waitUntil([&] { return second.answer->has_value(); }));
    EXPECT_TRUE(second.answer->value().has_value());
    EXPECT_EQ(generator.runs.load(), 2);
}

TEST_F(ThumbnailLoaderTest, GoneContextGetsNoAnswerButThePictureIsStillCached) {
    generator.gate(false);
    auto answer = std::make_shared<bool>(false);
    onMain([&] {
        auto* row = new QObject(context.get());
        loader->thumbnail(file, row, [answer](std::optional<QImage>) { *answer = true; });
        delete row;
    });
    generator.gate(true);
    ASSERT_TRUE(waitUntil([&] { return loader->cache().contains(ThumbnailLoader::key(file)); }));
    EXPECT_FALSE(onMainValue<bool>([&] { return *answer; }));
}

TEST_F(ThumbnailLoaderTest, KeyIsPathAndModificationTimeWithZeroWhenUnreadable) {
    struct timespec times[2] = {{1'700'000'000, 250'000'000}, {1'700'000'000, 250'000'000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    EXPECT_EQ(ThumbnailLoader::key(file), QString::fromStdString(file.string() + "#1700000000.25"));
    EXPECT_EQ(ThumbnailLoader::key(dir / "missing.png"), QString::fromStdString((dir / "missing.png").string() + "#0.0"));
}

TEST_F(ThumbnailLoaderTest, KeepsTheNewest512) {
    std::vector<std::filesystem::path> files;
    for (int i = 0; i <= ThumbnailLoader::cacheLimit; ++i) {
        files.push_back(dir / ("f" + std::to_string(i) + ".png"));
        testing::writeFile(files.back(), std::string("x"));
    }
    std::vector<Request> requests;
    for (const auto& f : files) requests.emplace_back(loader.get(), f, context.get());
    ASSERT_TRUE(waitUntil([&] { return requests.back().answer->has_value() && generator.runs.load() == 513; }));
    ASSERT_TRUE(waitUntil([&] {
        for (const auto& r : requests)
            if (!r.answer->has_value()) return false;
        return true;
    }));
    EXPECT_EQ(onMainValue<int>([&] { return static_cast<int>(loader->cache().count()); }), 512);
    EXPECT_TRUE(onMainValue<bool>([&] { return loader->cache().contains(ThumbnailLoader::key(files.back())); }));
}

// The real sources: the desktop's thumbnail cache, then the file itself.
class ThumbnailSourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_CACHE_HOME");
        saved = old ? std::optional<std::string>(old) : std::nullopt;
        setenv("XDG_CACHE_HOME", cacheHome.path().c_str(), 1);
    }
    void TearDown() override {
        if (saved) setenv("XDG_CACHE_HOME", saved->c_str(), 1);
        else unsetenv("XDG_CACHE_HOME");
    }
    void writeDesktopThumbnail(const std::filesystem::path& file, const std::string& folder, QColor colour, long mtime) {
        const std::string uri = thumbnails::fileURI(file);
        const auto name = QCryptographicHash::hash(QByteArray::fromStdString(uri), QCryptographicHash::Md5).toHex() + ".png";
        std::filesystem::create_directories(cacheHome.path() / "thumbnails" / folder);
        QImage image(128, 64, QImage::Format_RGBA8888);
        image.fill(colour);
        image.setText("Thumb::URI", QString::fromStdString(uri));
        image.setText("Thumb::MTime", QString::number(mtime));
        ASSERT_TRUE(image.save(QString::fromStdString((cacheHome.path() / "thumbnails" / folder).string()) + "/" + name));
    }
    static long mtimeOf(const std::filesystem::path& file) {
        struct stat info {};
        ::stat(file.c_str(), &info);
        return info.st_mtim.tv_sec;
    }

    TempDir cacheHome;
    TempDir dir;
    std::optional<std::string> saved;
};

TEST_F(ThumbnailSourcesTest, FileURIEscapesAsTheDesktopDoes) {
    EXPECT_EQ(thumbnails::fileURI("/home/a b/ü[1]#%.png"), "file:///home/a%20b/%C3%BC%5B1%5D%23%25.png");
    EXPECT_EQ(thumbnails::fileURI("/tmp/x-y_z~(1)+,;=@.jpg"), "file:///tmp/x-y_z~(1)+,;=@.jpg");
}

TEST(ThumbnailKeys, NamesThatAreNotUTF8AndDifferOnlyThereKeepTheirOwnPictures) {
    TempDir dir;
    testing::writeFile(dir / "caf\xE9.png", std::string("a"));
    testing::writeFile(dir / "caf\xE8.png", std::string("b"));
    EXPECT_NE(ThumbnailLoader::key(dir / "caf\xE9.png"), ThumbnailLoader::key(dir / "caf\xE8.png"));
    EXPECT_EQ(thumbnails::fileURI("/tmp/caf\xE9.png"), "file:///tmp/caf%E9.png");
}

TEST_F(ThumbnailSourcesTest, DesktopCacheIsUsedOnlyWhileItMatchesTheFile) {
    const auto file = dir / "doc.txt";
    testing::writeFile(file, std::string("hello"));
    writeDesktopThumbnail(file, "normal", Qt::blue, mtimeOf(file));
    auto image = thumbnails::generate(file, 72);
    ASSERT_TRUE(image.has_value()) << "a text file gets its picture only from the desktop's cache";
    EXPECT_EQ(image->width(), 72);
    EXPECT_EQ(image->height(), 36);
    EXPECT_EQ(QColor(image->pixel(10, 10)), QColor(Qt::blue));

    writeDesktopThumbnail(file, "normal", Qt::blue, mtimeOf(file) - 5);
    EXPECT_FALSE(thumbnails::cachedByDesktop(file, 72).has_value()) << "a stale thumbnail is ignored";
    EXPECT_FALSE(thumbnails::generate(file, 72).has_value());
}

TEST_F(ThumbnailSourcesTest, ImagesAndPDFsAreRenderedAndOtherFilesGetNothing) {
    const auto png = dir / "wide.png";
    QImage picture(400, 200, QImage::Format_RGB32);
    picture.fill(QColor(0, 200, 0));
    ASSERT_TRUE(picture.save(QString::fromStdString(png.string())));
    auto image = thumbnails::generate(png, 72);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->size(), QSize(72, 36));
    EXPECT_EQ(QColor(image->pixel(36, 18)).green(), 200);

    const auto small = dir / "small.png";
    ASSERT_TRUE(picture.scaled(20, 10).save(QString::fromStdString(small.string())));
    EXPECT_EQ(thumbnails::generate(small, 72)->size(), QSize(20, 10)) << "small pictures are not blown up";

    const auto pdf = dir / "page.pdf";
    testing::writeFile(pdf, testing::pdfFromObjects({"<< /Type /Catalog /Pages 2 0 R >>",
                                                     "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                                     "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 400] >>"}));
    auto page = thumbnails::generate(pdf, 72);
    ASSERT_TRUE(page.has_value());
    EXPECT_EQ(page->size(), QSize(36, 72));
    EXPECT_EQ(QColor(page->pixel(18, 36)), QColor(Qt::white));

    const auto text = dir / "notes.txt";
    testing::writeFile(text, std::string("plain"));
    EXPECT_FALSE(thumbnails::generate(text, 72).has_value());
    const auto broken = dir / "broken.png";
    testing::writeFile(broken, std::string("not a png"));
    EXPECT_FALSE(thumbnails::generate(broken, 72).has_value());
}

TEST_F(ThumbnailSourcesTest, VideoShowsItsFirstFrame) {
    ASSERT_TRUE(testing::peerInstalled("ffmpeg"));
    const auto video = dir / "clip.mp4";
    testing::media::ffmpeg("-f lavfi -i color=c=red:s=320x240:d=1 -pix_fmt yuv420p " + testing::shellQuote(video.string()));
    auto image = thumbnails::generate(video, 72);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->size(), QSize(72, 54));
    EXPECT_GT(QColor(image->pixel(36, 27)).red(), 200);
}

}  // namespace
}  // namespace calvoro
