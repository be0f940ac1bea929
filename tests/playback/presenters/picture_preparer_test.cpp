#include <QBuffer>
#include <QPainter>

#include <chrono>
#include <array>
#include <filesystem>
#include <vector>
#include <stdexcept>

#include "playback/presenters/picture_preparer.h"
#include "picture_files.h"
#include "presenter_test_env.h"

namespace zorvak {
namespace {

using namespace zorvak::test;

const QSize kScreen(1280, 720);

// A picture with detail in it (stripes and a gradient), so that a smooth
// scale differs from a fast one and a wrong size shows.
QImage Detailed(QColor colour, int width = 640, int height = 360) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient gradient(0, 0, width, height);
    gradient.setColorAt(0, colour);
    gradient.setColorAt(1, Qt::white);
    p.fillRect(image.rect(), gradient);
    for (int x = 0; x < width; x += 7) p.fillRect(x, 0, 2, height, Qt::black);
    return image;
}

// Moves a file's modification time by a whole second, as a file written
// again later would have it.
void Touch(const std::string& path, int seconds) {
    const auto t = std::filesystem::last_write_time(path);
    std::filesystem::last_write_time(path, t + std::chrono::seconds(seconds));
}

bool Finished(const PicturePreparer& preparer) {
    return WaitFor([&] { return !preparer.Preparing(); }, 10000);
}

TEST(PicturePreparer, GivesThePictureAndItsSmoothScaleAsThePictureWindowWouldMakeThem) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    struct Case {
        const char* name;
        const char* format;
        bool translucent;  // half of it: the window draws it over black
    } cases[] = {{"p.jpg", "jpeg", false},
                 {"p.PNG", "png", false},
                 {"p.bmp", "bmp", false},
                 {"t.png", "png", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.File(c.name);
        QImage written = Detailed(Qt::red);
        if (c.translucent) {
            written = written.convertToFormat(QImage::Format_ARGB32);
            QPainter p(&written);
            p.setCompositionMode(QPainter::CompositionMode_Source);
            p.fillRect(0, 0, 320, 360, QColor(255, 255, 255, 100));
        }
        ASSERT_TRUE(WriteFile(path, Encoded(written, c.format)));
        const QString file = QString::fromStdString(path);
        PicturePreparer preparer;

        preparer.Prepare(file, kScreen);
        ASSERT_TRUE(Finished(preparer));

        const QImage decoded = ReadPictureStrictly(file, c.format);
        std::optional<PreparedPicture> picture = preparer.Take(file);
        ASSERT_TRUE(picture.has_value());
        EXPECT_EQ(picture->key, PictureFileKeyOf(file));
        EXPECT_EQ(picture->image, decoded);
        QImage shown(kScreen, QImage::Format_RGB32);
        shown.fill(Qt::black);
        QPainter(&shown).drawImage(
            0, 0, decoded.scaled(kScreen, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        EXPECT_EQ(picture->scaled.format(), QImage::Format_RGB32);
        EXPECT_EQ(picture->scaled, shown);
        // Grey where the white was translucent, not white: drawn over black.
        EXPECT_EQ(qRed(picture->scaled.pixel(8, 20)) < 128, c.translucent);
        // Handed out once.
        EXPECT_FALSE(preparer.HoldsPicture());
        EXPECT_FALSE(preparer.Take(file).has_value());
    }
}

// The read-ahead reads pictures as the picture window does: upright (every
// EXIF orientation applied, a damaged tag ignored), and a picture larger than
// the screen decoded at the screen's size, upright, never whole.
TEST(PicturePreparer, PreparesPicturesUprightAndLargeOnesAtTheScreenSize) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    QImage quarters(400, 300, QImage::Format_RGB32);
    {
        QPainter p(&quarters);
        for (int k = 0; k < 4; ++k) {
            p.fillRect((k % 2) * 200, (k / 2) * 150, 200, 150, kQuarterColours[k]);
        }
    }
    const QByteArray small = Encoded(quarters, "jpeg");
    const QByteArray phone = QuartersJpeg(4032, 3024);
    struct Case {
        QByteArray jpeg;
        int shownAs;
        QSize decoded;  // the size of the prepared picture before it is stretched
    };
    std::vector<Case> cases;
    for (int o = 1; o <= 8; ++o) {
        cases.push_back({WithExif(small, ExifOrientation(o)), o,
                         o >= 5 ? QSize(300, 400) : QSize(400, 300)});
    }
    cases.push_back({WithExif(small, ExifOrientation(6).left(14)), 1, QSize(400, 300)});
    cases.push_back({phone, 1, kScreen});
    cases.push_back({WithExif(phone, ExifOrientation(6)), 6, kScreen});
    cases.push_back({WithExif(phone, ExifOrientation(7, true)), 7, kScreen});
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("orientation " + std::to_string(c.shownAs) + ", case " + std::to_string(n));
        const QString file = QString::fromStdString(folder.File("p" + std::to_string(++n) + ".jpg"));
        ASSERT_TRUE(WriteFile(file.toStdString(), c.jpeg));
        PicturePreparer preparer;
        preparer.Prepare(file, kScreen);
        ASSERT_TRUE(Finished(preparer));
        std::optional<PreparedPicture> picture = preparer.Take(file);
        ASSERT_TRUE(picture.has_value());
        EXPECT_EQ(picture->image.size(), c.decoded);
        ASSERT_EQ(picture->scaled.size(), kScreen);
        const std::array<int, 4> corners = UprightCorners(c.shownAs);
        const QPoint at[4] = {{4, 4}, {1275, 4}, {4, 715}, {1275, 715}};
        for (int k = 0; k < 4; ++k) {
            EXPECT_TRUE(Near(picture->scaled.pixelColor(at[k]), kQuarterColours[corners[k]]))
                << "corner " << k << ": " << Describe(picture->scaled.pixelColor(at[k]));
        }
        // Read directly: whole without a size to show it at, upright.
        if (c.decoded == kScreen) {
            const QImage whole = ReadPictureStrictly(file, "jpeg");
            EXPECT_EQ(whole.size(), c.shownAs >= 5 ? QSize(3024, 4032) : QSize(4032, 3024));
        }
    }
}

TEST(PicturePreparer, PreparesNothingItCannotDecodeOrThatIsNotABitmap) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    const QByteArray png = Encoded(Detailed(Qt::green), "png");
    struct Case {
        const char* name;
        QByteArray bytes;  // empty: no file
    } cases[] = {
        {"png-in.jpg", png},            // the extension's decoder refuses it
        {"broken.png", png.left(40)},   // cut short
        {"picture.gif", png},           // no decoder for the extension
        {"drawing.wmf", png},           // metafiles are drawn at their turn
        {"drawing.emf", png},
        {"missing.png", QByteArray()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.File(c.name);
        if (!c.bytes.isEmpty()) {
            ASSERT_TRUE(WriteFile(path, c.bytes));
        }
        const QString file = QString::fromStdString(path);
        PicturePreparer preparer;

        preparer.Prepare(file, kScreen);
        ASSERT_TRUE(Finished(preparer));

        EXPECT_FALSE(preparer.HoldsPicture());
        EXPECT_FALSE(preparer.Take(file).has_value());
    }
}

TEST(PicturePreparer, AFileChangedSincePreparingIsNotUsedAndTheStalePictureGoes) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    const QByteArray red = Encoded(Detailed(Qt::red), "png");
    const QByteArray blue = Encoded(Detailed(Qt::blue), "png");
    struct Case {
        const char* name;
        std::function<void(const std::string&)> change;
    } cases[] = {
        {"rewritten, same size, later time",
         [&](const std::string& p) {
             QByteArray same = red;
             same[same.size() / 2] = char(same[same.size() / 2] ^ 0x55);
             ASSERT_TRUE(WriteFile(p, same));
             Touch(p, 2);
         }},
        {"replaced by another picture", [&](const std::string& p) { ASSERT_TRUE(WriteFile(p, blue)); }},
        {"touched only", [&](const std::string& p) { Touch(p, -3); }},
        {"removed", [&](const std::string& p) { std::filesystem::remove(p); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.File("p.png");
        ASSERT_TRUE(WriteFile(path, red));
        const QString file = QString::fromStdString(path);
        PicturePreparer preparer;
        preparer.Prepare(file, kScreen);
        ASSERT_TRUE(Finished(preparer));
        ASSERT_TRUE(preparer.HoldsPicture());

        c.change(path);

        EXPECT_FALSE(preparer.Take(file).has_value());
        EXPECT_FALSE(preparer.HoldsPicture());
    }
}

TEST(PicturePreparer, HoldsOnlyTheLatestRequestsPicture) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    const QString a = QString::fromStdString(folder.File("a.png"));
    const QString b = QString::fromStdString(folder.File("b.png"));
    const QString c = QString::fromStdString(folder.File("c.png"));
    ASSERT_TRUE(WriteFile(a.toStdString(), Encoded(Detailed(Qt::red, 1920, 1080), "png")));
    ASSERT_TRUE(WriteFile(b.toStdString(), Encoded(Detailed(Qt::green), "png")));
    ASSERT_TRUE(WriteFile(c.toStdString(), Encoded(Detailed(Qt::blue), "png")));
    PicturePreparer preparer;

    // b supersedes a before a's result can come back: a's is dropped.
    preparer.Prepare(a, kScreen);
    preparer.Prepare(b, kScreen);
    ASSERT_TRUE(Finished(preparer));
    Spin(50);  // a's result, had it been kept, would be in by now
    ASSERT_TRUE(preparer.HeldKey().has_value());
    EXPECT_EQ(preparer.HeldKey()->path, b);
    EXPECT_FALSE(preparer.Take(a).has_value());

    // A finished picture is kept while the next one is decoded, then replaced.
    preparer.Prepare(c, kScreen);
    EXPECT_EQ(preparer.HeldKey()->path, b);
    ASSERT_TRUE(Finished(preparer));
    EXPECT_EQ(preparer.HeldKey()->path, c);
    EXPECT_FALSE(preparer.Take(b).has_value());
    EXPECT_TRUE(preparer.Take(c).has_value());

    // Drop lets go of a request in flight too.
    preparer.Prepare(a, kScreen);
    preparer.Drop();
    EXPECT_FALSE(preparer.Preparing());
    Spin(300);
    EXPECT_FALSE(preparer.HoldsPicture());
}

TEST(PicturePreparer, GoesWhileADecodeIsInFlight) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    const QString big = QString::fromStdString(folder.File("big.png"));
    ASSERT_TRUE(WriteFile(big.toStdString(), Encoded(Detailed(Qt::red, 3840, 2160), "png")));
    // The destructor waits for the worker (a thread still joinable would end
    // the process) and takes any queued result with it (a result delivered
    // afterwards would write into freed memory, which the sanitizer run
    // reports).
    for (int wait : {0, 5, 60}) {
        auto preparer = std::make_unique<PicturePreparer>();
        preparer->Prepare(big, kScreen);
        Spin(wait);
        preparer.reset();
        Spin(20);
    }
}

}  // namespace
}  // namespace zorvak
