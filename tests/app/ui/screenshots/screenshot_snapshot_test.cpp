// The seven pictures against reference renders kept beside this test, both scaled to 640×400.
// A picture that differs is written to the build folder next to a copy of its reference, for a
// person to look at; CALVORO_UPDATE_SNAPSHOTS=1 writes new references instead (commit them on
// purpose).
#include <gtest/gtest.h>

#include <QImage>
#include <QString>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "screenshot_test_support.h"

namespace calvoro {
namespace {

using testing::TempDir;

const QSize referenceSize(640, 400);

QString qtPath(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

struct Difference {
    double meanChannelDelta = 0;  // 0..255
    double differingShare = 0;    // pixels with a channel off by more than 16, as a share
};

Difference compare(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
    double total = 0;
    long differing = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int column = 0; column < x.width(); ++column) {
            const int dr = std::abs(qRed(p[column]) - qRed(q[column])), dg = std::abs(qGreen(p[column]) - qGreen(q[column])),
                      db = std::abs(qBlue(p[column]) - qBlue(q[column]));
            total += dr + dg + db;
            if (std::max({dr, dg, db}) > 16) ++differing;
        }
    }
    const double pixels = static_cast<double>(x.width()) * x.height();
    return {total / (3 * pixels), differing / pixels};
}

TEST(ScreenshotSnapshots, EachStateMatchesItsReference) {
    testing::SeedFilePlacement seeds(7);
    TempDir scratch;
    const auto r = testing::runScreenshots(scratch, "out");
    ASSERT_EQ(r.status, 0) << r.output;
    const char* update = std::getenv("CALVORO_UPDATE_SNAPSHOTS");
    const bool updating = update && std::strcmp(update, "1") == 0;
    const std::filesystem::path references = CALVORO_SCREENSHOT_REFERENCES, review = CALVORO_SCREENSHOT_REVIEW;
    std::error_code ec;
    std::filesystem::remove_all(review, ec);
    for (const auto& name : testing::screenshotNames()) {
        const QImage render = QImage(qtPath(scratch / "out" / name))
                                  .scaled(referenceSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                  .convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(render.size(), referenceSize) << name;
        if (updating) {
            std::filesystem::create_directories(references, ec);
            EXPECT_TRUE(render.save(qtPath(references / name))) << name;
            continue;
        }
        const QImage reference(qtPath(references / name));
        EXPECT_FALSE(reference.isNull()) << name << " has no reference; CALVORO_UPDATE_SNAPSHOTS=1 makes one";
        const Difference difference = reference.size() == referenceSize ? compare(render, reference) : Difference{255, 1};
        // Small enough for a different rounding of the smoothing; a moved or recoloured view is not.
        if (difference.meanChannelDelta <= 0.5 && difference.differingShare <= 0.001) continue;
        std::filesystem::create_directories(review, ec);
        const std::string stem = std::filesystem::path(name).stem().string();
        render.save(qtPath(review / (stem + ".new.png")));
        std::filesystem::copy_file(references / name, review / (stem + ".reference.png"),
                                   std::filesystem::copy_options::overwrite_existing, ec);
        ADD_FAILURE() << name << " differs from its reference (mean channel difference " << difference.meanChannelDelta
                      << ", " << difference.differingShare * 100 << " % of pixels); see " << review.string();
    }
}

}  // namespace
}  // namespace calvoro
