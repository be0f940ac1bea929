// Windows metafiles (WMF, EMF) on Linux, written record by record in the test,
// shown through the picture presenter and checked on the screen's pixels.

#include <QFile>

#include <stdexcept>
#include <string>

#include "metafiles.h"
#include "playback/presenters/picture_window.h"
#include "presenter_test_env.h"

namespace zorvak {
namespace {

using namespace zorvak::test;

bool WriteBytes(const std::string& path, const std::string& bytes) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::WriteOnly) &&
           file.write(bytes.data(), static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size());
}

TEST(MetafilePresenter, WmfAndEmfAreStretchedOverTheScreen) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    FixedAppDirectory appDir(folder.Path());
    SwitchConnectivity online;
    WindowPresenters presenters(online, appDir, {}, TestSettings());
    const QColor red(255, 0, 0), blue(0, 0, 255), green(0, 255, 0), yellow(255, 255, 0);
    struct Case {
        const char* name;
        std::string bytes;
        QColor left, right;
    };
    const Case cases[] = {
        {"two.wmf", TwoColourWmf({255, 0, 0}, {0, 0, 255}), red, blue},
        {"TWO.WMF", TwoColourWmf({0, 255, 0}, {255, 255, 0}), green, yellow},
        {"two.emf", TwoColourEmf({0, 255, 0}, {255, 255, 0}), green, yellow},
        {"two.Emf", TwoColourEmf({0, 0, 255}, {255, 0, 0}), blue, red},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteBytes(folder.File(c.name), c.bytes));
        bool painted = false;
        QImage screen;
        After(0, [&] {
            painted = WaitForPixel(600, 360, c.left, 5000) && WaitForPixel(680, 360, c.right, 5000);
            Spin(100);
            screen = GrabScreen();
            presenters.CloseAllPresenters();
        });
        presenters.ShowImage(folder.File(c.name), 0, MediaSource::kLocalFile);
        ASSERT_TRUE(painted) << c.name;
        ASSERT_EQ(screen.size(), QSize(1280, 720));
        // The 100 × 100 drawing covers the 16:9 screen: its halves meet in
        // the middle, and the corners show no bars.
        struct Probe {
            int x, y;
            QColor colour;
        } probes[] = {{4, 4, c.left},        {4, 715, c.left},     {620, 360, c.left},
                      {660, 360, c.right},   {1275, 4, c.right},   {1275, 715, c.right}};
        for (const Probe& p : probes) {
            EXPECT_TRUE(Near(screen.pixelColor(p.x, p.y), p.colour))
                << c.name << " at " << p.x << "," << p.y << ": " << Describe(screen.pixelColor(p.x, p.y));
        }
    }
}

TEST(MetafilePresenter, AMetafileThatDoesNotDecodeFailsAsAnyUnreadablePicture) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    const std::string wmf = TwoColourWmf({255, 0, 0}, {0, 0, 255});
    const std::string emf = TwoColourEmf({255, 0, 0}, {0, 0, 255});
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty.wmf", ""},
        {"text.wmf", "not a metafile at all, just some text"},
        {"emf-named.wmf", emf},
        {"short.emf", emf.substr(0, 60)},
        {"wmf-named.emf", wmf},
        {"text.emf", std::string(200, 'x')},
    };
    PictureWindow window{QString()};
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteBytes(folder.File(c.name), c.bytes));
        window.ClearPictures();
        EXPECT_THROW(window.LoadPicture(QString::fromStdString(folder.File(c.name))), std::runtime_error)
            << c.name;
        EXPECT_FALSE(window.HasPicture()) << c.name;
    }
    EXPECT_THROW(window.LoadPicture(QString::fromStdString(folder.File("none.wmf"))), std::runtime_error);
}

}  // namespace
}  // namespace zorvak
