#include <QBuffer>
#include <QElapsedTimer>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "core/log.h"
#include "playback/presenters/picture_window.h"
#include "playback/presenters/picture_preparer.h"
#include "picture_files.h"
#include "presenter_test_env.h"

namespace zorvak {
namespace {

using namespace zorvak::test;

const QColor kRed(255, 0, 0);
const QColor kGreen(0, 255, 0);
const QColor kBlue(0, 0, 255);
const QColor kYellow(255, 255, 0);
const QColor kMagenta(255, 0, 255);
const QColor kBlack(0, 0, 0);

// A 4:3 picture in four coloured quarters: red, green / blue, yellow.
QImage Quarters(int width = 400, int height = 300) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(0, 0, width / 2, height / 2, kRed);
    p.fillRect(width / 2, 0, width - width / 2, height / 2, kGreen);
    p.fillRect(0, height / 2, width / 2, height - height / 2, kBlue);
    p.fillRect(width / 2, height / 2, width - width / 2, height - height / 2, kYellow);
    return image;
}

// A 400 × 150 logo, larger than its 320 × 106 box: opaque magenta with a
// transparent stripe at x 100..199.
QImage Logo() {
    QImage image(400, 150, QImage::Format_ARGB32);
    image.fill(kMagenta);
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(100, 0, 100, 150, Qt::transparent);
    return image;
}

TEST(ImagePresenter, DecodesByExtensionWithoutRegardToCase) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    const QImage picture = Quarters(64, 48);
    struct Case {
        const char* name;
        const char* format;  // how the file is written
        bool loads;
    } cases[] = {
        {"a.bmp", "bmp", true},   {"b.BMP", "bmp", true},    {"c.jpg", "jpeg", true},
        {"d.JPEG", "jpeg", true}, {"e.Jpg", "jpeg", true},   {"f.png", "png", true},
        {"g.PnG", "png", true},   {"h.ico", "ico", true},    {"i.gif", "png", false},
        {"j.wmf", "bmp", false},  {"k.emf", "bmp", false},   {"l.jpg", "png", false},
        {"m", "png", false},      {"n.png", nullptr, false},
    };
    PictureWindow window{QString()};
    for (const Case& c : cases) {
        const std::string path = folder.File(c.name);
        ASSERT_TRUE(WriteFile(path, c.format ? Encoded(picture, c.format) : QByteArray("not a picture")));
        window.ClearPictures();
        if (c.loads) {
            EXPECT_NO_THROW(window.LoadPicture(QString::fromStdString(path))) << c.name;
            EXPECT_TRUE(window.HasPicture()) << c.name;
        } else {
            EXPECT_THROW(window.LoadPicture(QString::fromStdString(path)), std::runtime_error)
                << c.name;
            EXPECT_FALSE(window.HasPicture()) << c.name;
        }
    }
}

// As the play loop does it: next is handed over for preparing, then current
// is shown; it stays on screen until the preparation has finished. False when
// it did not start or finish.
bool ShowWhilePreparing(WindowPresenters& presenters, const std::string& current,
                        const std::string& next) {
    presenters.PreparePicture(next);
    bool finished = false;
    After(0, [&] {
        finished = WaitFor(
            [&] {
                return presenters.Preparer().Requested() > 0 && !presenters.Preparer().Preparing();
            },
            10000);
        presenters.CloseAllPresenters();
    });
    presenters.ShowImage(current, 0, MediaSource::kLocalFile);
    return finished;
}

// A picture of one colour, in a given size.
QImage Plain(QColor colour, int width = 640, int height = 360) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Grabs the screen when a picture window is about to be mapped: at its show
// event, after it was created and before it is on screen.
class GrabBeforeThePictureWindowMaps : public QObject {
public:
    GrabBeforeThePictureWindowMaps() { qApp->installEventFilter(this); }
    ~GrabBeforeThePictureWindowMaps() override { qApp->removeEventFilter(this); }
    QImage screen;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && qobject_cast<PictureWindow*>(watched) != nullptr &&
            screen.isNull()) {
            screen = GrabScreen();
        }
        return false;
    }
};

// As the window paints it, and, during a run, already before the window is on
// screen: the backdrop shows the same frame first, whether the picture was
// prepared ahead or is decoded at its turn.
TEST(ImagePresenter, StretchesThePictureOverTheScreenWithTheLogoInItsBox) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    FixedAppDirectory appDir(folder.Path());
    ASSERT_TRUE(WriteFile(folder.File("logo.png"), Encoded(Logo(), "png")));
    ASSERT_TRUE(WriteFile(folder.File("quarters.png"), Encoded(Quarters(), "png")));
    ASSERT_TRUE(WriteFile(folder.File("current.png"), Encoded(Plain(kBlack), "png")));
    SwitchConnectivity online;
    WindowPresenters presenters(online, appDir, {}, TestSettings());

    // The screen is 1280 × 720 (16:9); the picture is 4:3. The logo box spans
    // x 952..1271 and y 602..707.
    struct Probe {
        int x, y;
        QColor colour;
        const char* what;
    } probes[] = {
        {4, 4, kRed, "top-left corner: no bars at the sides"},
        {1275, 4, kGreen, "top-right corner"},
        {4, 715, kBlue, "bottom-left corner"},
        {630, 350, kRed, "just above-left of the centre"},
        {650, 370, kYellow, "just below-right of the centre"},
        {952 + 50, 650, kMagenta, "logo, opaque part"},
        {952 + 150, 650, kYellow, "logo, transparent stripe shows the picture"},
        {952 + 250, 650, kMagenta, "logo, opaque part right of the stripe"},
        {1275, 650, kYellow, "logo clipped at the box's right side"},
        {952 + 50, 711, kYellow, "logo clipped at the box's bottom"},
        {948, 650, kYellow, "left of the box"},
        {952 + 50, 598, kYellow, "above the box"},
    };
    auto expectFrame = [&](const QImage& screen, const std::string& what) {
        ASSERT_EQ(screen.size(), QSize(1280, 720)) << what;
        for (const Probe& p : probes) {
            EXPECT_TRUE(Near(screen.pixelColor(p.x, p.y), p.colour))
                << what << ", " << p.what << " at " << p.x << "," << p.y << ": "
                << Describe(screen.pixelColor(p.x, p.y));
        }
    };

    enum class Way { kNoRun, kRunPrepared, kRunDecodedAtItsTurn };
    for (Way way : {Way::kNoRun, Way::kRunPrepared, Way::kRunDecodedAtItsTurn}) {
        const std::string what = way == Way::kNoRun         ? "no run"
                                  : way == Way::kRunPrepared ? "run, prepared ahead"
                                                             : "run, decoded at its turn";
        if (way != Way::kNoRun) {
            // An item before it, while which the picture is prepared, or
            // another one.
            presenters.BeginRun();
            ASSERT_TRUE(ShowWhilePreparing(
                presenters, folder.File("current.png"),
                folder.File(way == Way::kRunPrepared ? "quarters.png" : "current.png")));
            const std::optional<PictureFileKey> held = presenters.Preparer().HeldKey();
            EXPECT_EQ(held.has_value() && held->path == QString::fromStdString(folder.File("quarters.png")),
                      way == Way::kRunPrepared);
        }
        bool painted = false;
        QImage screen;
        After(0, [&] {
            painted = WaitForPixel(4, 4, kRed, 5000);
            Spin(100);
            screen = GrabScreen();
            presenters.CloseAllPresenters();
        });
        GrabBeforeThePictureWindowMaps beforeMapped;
        presenters.ShowImage(folder.File("quarters.png"), 0, MediaSource::kLocalFile);
        if (way != Way::kNoRun) presenters.EndRun();

        ASSERT_TRUE(painted) << what;
        expectFrame(screen, what);
        if (way != Way::kNoRun) expectFrame(beforeMapped.screen, what + ", before the window");
        EXPECT_EQ(presenters.Pictures(), nullptr);
        EXPECT_EQ(PresenterWindowsAlive("PictureWindow"), 0);
    }
}

TEST(ImagePresenter, ClosesWhenItsTimeIsOverAndDestroysItsWindow) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    FixedAppDirectory appDir(folder.Path());
    ASSERT_TRUE(WriteFile(folder.File("p.jpg"), Encoded(Quarters(), "jpeg")));
    SwitchConnectivity online;
    WindowPresenters presenters(online, appDir, {}, TestSettings());

    bool shown_with_caption = false;
    int interval = -1;
    After(200, [&] {
        auto* window = presenters.Pictures();
        shown_with_caption = window != nullptr && window->isVisible() &&
                             window->windowTitle() == QStringLiteral("全屏图片") &&
                             window->isModal() &&
                             (window->windowFlags() & Qt::WindowStaysOnTopHint) &&
                             (window->windowFlags() & Qt::FramelessWindowHint) &&
                             window->geometry() == QRect(0, 0, 1280, 720);
        interval = window != nullptr ? window->DisplayTimerInterval() : -1;
    });
    QElapsedTimer elapsed;
    elapsed.start();
    presenters.ShowImage(folder.File("p.jpg"), 1, MediaSource::kLocalFile);
    const qint64 took = elapsed.elapsed();

    EXPECT_TRUE(shown_with_caption);
    EXPECT_EQ(interval, 1000);
    EXPECT_GE(took, 950);
    EXPECT_LT(took, 10000);
    EXPECT_EQ(presenters.Pictures(), nullptr);
    EXPECT_EQ(PresenterWindowsAlive("PictureWindow"), 0);
}

TEST(ImagePresenter, ALoadErrorEscapesAndTheWindowIsReusedWithoutItsLogo) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    FixedAppDirectory appDir(folder.Path());
    ASSERT_TRUE(WriteFile(folder.File("logo.png"), Encoded(Logo(), "png")));
    ASSERT_TRUE(WriteFile(folder.File("bad.gif"), Encoded(Quarters(), "png")));
    ASSERT_TRUE(WriteFile(folder.File("good.png"), Encoded(Quarters(), "png")));
    SwitchConnectivity online;
    WindowPresenters presenters(online, appDir, {}, TestSettings());

    EXPECT_THROW(presenters.ShowImage(folder.File("bad.gif"), 0, MediaSource::kLocalFile), std::runtime_error);
    PictureWindow* kept = presenters.Pictures();
    ASSERT_NE(kept, nullptr);
    EXPECT_FALSE(kept->isVisible());
    EXPECT_TRUE(kept->HasLogo());

    PictureWindow* reused = nullptr;
    bool logo_gone = false;
    After(0, [&] {
        reused = presenters.Pictures();
        logo_gone = WaitForPixel(952 + 50, 650, kYellow, 5000) && !reused->HasLogo();
        presenters.CloseAllPresenters();
    });
    presenters.ShowImage(folder.File("good.png"), 0, MediaSource::kLocalFile);
    EXPECT_EQ(reused, kept);
    EXPECT_TRUE(logo_gone);
    EXPECT_EQ(presenters.Pictures(), nullptr);
}

// Keeps the lines logged while it lives.
class LogRecorder final : public LogSink {
public:
    LogRecorder() { SetLogSink(this); }
    ~LogRecorder() override { SetLogSink(nullptr); }
    bool IsEnabled(LogCategory, LogLevel) const override { return true; }
    void Write(LogCategory category, LogLevel level, std::string_view message) override {
        if (category == LogCategory::kPlay && level == LogLevel::kWarning) {
            warnings.emplace_back(message);
        }
    }
    int WarningsAbout(const std::string& text) const {
        return int(std::count_if(warnings.begin(), warnings.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
        }));
    }
    std::vector<std::string> warnings;
};

// A damaged logo.png (a PNG signature, then data no decoder reads) stops
// nothing: every picture shows at once without it, the picture window is the
// only modal window, and the fault goes to the log once however many pictures
// follow. Once the file reads again, the logo is back and the fault gone.
TEST(ImagePresenter, ADamagedLogoIsLoggedOnceAndPicturesShowWithoutIt) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    FixedAppDirectory appDir(folder.Path());
    const QByteArray png = Encoded(Logo(), "png");
    ASSERT_TRUE(WriteFile(folder.File("logo.png"), png.left(8) + QByteArray(300, 'x')));
    ASSERT_TRUE(WriteFile(folder.File("quarters.png"), Encoded(Quarters(), "png")));
    LogRecorder log;
    SwitchConnectivity online;
    WindowPresenters presenters(online, appDir, {}, TestSettings());

    for (int item = 0; item < 3; ++item) {
        SCOPED_TRACE(item);
        bool shown = false;
        bool only_the_picture_is_modal = false;
        After(0, [&] {
            // The logo box shows the picture under it.
            shown = WaitForPixel(952 + 50, 650, kYellow, 5000);
            only_the_picture_is_modal = QApplication::activeModalWidget() == presenters.Pictures();
            presenters.CloseAllPresenters();
        });
        presenters.ShowImage(folder.File("quarters.png"), 0, MediaSource::kLocalFile);
        EXPECT_TRUE(shown);
        EXPECT_TRUE(only_the_picture_is_modal);
        EXPECT_EQ(presenters.LastItemEnd().cause, ItemEndCause::kStop);
    }
    EXPECT_EQ(log.WarningsAbout("logo.png"), 1);
    EXPECT_FALSE(presenters.LogoFault().empty());

    ASSERT_TRUE(WriteFile(folder.File("logo.png"), png));
    bool logo_shown = false;
    After(0, [&] {
        logo_shown = WaitForPixel(952 + 50, 650, kMagenta, 5000);
        presenters.CloseAllPresenters();
    });
    presenters.ShowImage(folder.File("quarters.png"), 0, MediaSource::kLocalFile);
    EXPECT_TRUE(logo_shown);
    EXPECT_TRUE(presenters.LogoFault().empty());
    EXPECT_EQ(log.WarningsAbout("logo.png"), 1);
}

// Online pictures come through the fetch function and are always decoded as
// JPEG; anything else shows nothing and the call returns at once (0 seconds
// would otherwise keep it on screen until the guard timer closes it).
TEST(ImagePresenter, OnlinePicturesAreJpegOnly) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    FixedAppDirectory appDir(folder.Path());
    struct Case {
        const char* what;
        std::optional<std::string> body;
        bool shown;
    };
    const QByteArray jpeg = Encoded(Quarters(), "jpeg");
    const QByteArray png = Encoded(Quarters(), "png");
    Case cases[] = {
        {"a JPEG body", std::string(jpeg.constData(), size_t(jpeg.size())), true},
        {"a PNG body", std::string(png.constData(), size_t(png.size())), false},
        {"an empty body", std::string(), false},
        {"a failed or busy request", std::nullopt, false},
    };
    for (const Case& c : cases) {
        SwitchConnectivity online;
        std::vector<std::string> asked;
        WindowPresenters presenters(
            online, appDir,
            [&](const std::string& url) {
                asked.push_back(url);
                return c.body;
            },
            TestSettings());
        bool guard_fired = false;
        bool painted = false;
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] {
            guard_fired = true;
            painted = WaitForPixel(4, 4, kRed, 5000);
            presenters.CloseAllPresenters();
        });
        guard.start(1500);
        presenters.ShowImage("http://127.0.0.1:9/picture.png", 0, MediaSource::kOnline);
        EXPECT_EQ(asked, std::vector<std::string>{"http://127.0.0.1:9/picture.png"}) << c.what;
        EXPECT_EQ(guard_fired, c.shown) << c.what;
        EXPECT_EQ(painted, c.shown) << c.what;
        EXPECT_EQ(presenters.Pictures(), nullptr) << c.what;
    }
}

// Shows one picture, local or online, and grabs the screen once its top-left
// corner has the colour expected there. Null when nothing showed.
QImage ShowAndGrab(WindowPresenters& presenters, const std::string& location,
                   MediaSource source, QColor topLeft) {
    bool painted = false;
    QImage screen;
    After(0, [&] {
        painted = WaitForPixel(4, 4, topLeft, 5000);
        Spin(50);
        screen = GrabScreen();
        presenters.CloseAllPresenters();
    });
    presenters.ShowImage(location, 0, source);
    return painted ? screen : QImage();
}

// The corners of the screen show the corners of the picture as a photo viewer
// would show them: the EXIF orientation applied, then stretched over the
// screen. A missing or damaged tag shows the picture as stored. Pictures
// smaller than the screen and a phone's 4032 × 3024, local and online.
TEST(ImagePresenter, EveryExifOrientationIsShownUpright) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    FixedAppDirectory appDir(folder.Path());
    const QByteArray small = Encoded(Quarters(), "jpeg");
    const QByteArray phone = QuartersJpeg(4032, 3024);
    struct Case {
        const char* what;
        const QByteArray* jpeg;
        std::optional<QByteArray> tiff;  // the EXIF segment's TIFF part
        int shownAs;                     // the orientation it must show in
    };
    std::vector<Case> cases;
    for (int o = 1; o <= 8; ++o) {
        cases.push_back({"orientation", &small, ExifOrientation(o, o % 2 == 0), o});
    }
    cases.push_back({"phone held upright", &phone, ExifOrientation(6), 6});
    cases.push_back({"phone, upside down", &phone, ExifOrientation(8, true), 8});
    cases.push_back({"no tag", &small, std::nullopt, 1});
    cases.push_back({"orientation 0", &small, ExifOrientation(0), 1});
    cases.push_back({"orientation 9", &small, ExifOrientation(9), 1});
    cases.push_back({"segment cut in the entry", &small, ExifOrientation(6).left(14), 1});
    cases.push_back({"no byte order", &small, "XX" + ExifOrientation(6).mid(2), 1});

    QByteArray body;
    SwitchConnectivity online;
    WindowPresenters presenters(
        online, appDir,
        [&](const std::string&) { return std::string(body.constData(), size_t(body.size())); },
        TestSettings());
    int n = 0;
    for (const Case& c : cases) {
        const QByteArray bytes = c.tiff ? WithExif(*c.jpeg, *c.tiff) : *c.jpeg;
        const std::array<int, 4> corners = UprightCorners(c.shownAs);
        const std::string file = folder.File("o" + std::to_string(++n) + ".jpg");
        ASSERT_TRUE(WriteFile(file, bytes));
        body = bytes;
        for (MediaSource source : {MediaSource::kLocalFile, MediaSource::kOnline}) {
            const std::string what = std::string(c.what) + " " + std::to_string(c.shownAs) +
                                     (source == MediaSource::kOnline ? ", online" : ", local");
            const QImage screen = ShowAndGrab(
                presenters, source == MediaSource::kOnline ? "http://127.0.0.1:9/p.jpg" : file,
                source, kQuarterColours[corners[0]]);
            ASSERT_FALSE(screen.isNull()) << what << ": " << presenters.LastItemEnd().detail;
            const QPoint at[4] = {{4, 4}, {1275, 4}, {4, 715}, {1275, 715}};
            for (int k = 0; k < 4; ++k) {
                EXPECT_TRUE(Near(screen.pixelColor(at[k]), kQuarterColours[corners[k]]))
                    << what << ", corner " << k << ": " << Describe(screen.pixelColor(at[k]));
            }
        }
    }
}

// A 20,000 × 20,000 JPEG (1.6 GB decoded whole) shows over the screen like any
// picture, read from a file or from the network.
TEST(ImagePresenter, APictureOf20000By20000PixelsShows) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    FixedAppDirectory appDir(folder.Path());
    const QByteArray jpeg = QuartersJpeg(20000, 20000);
    ASSERT_TRUE(WriteFile(folder.File("huge.jpg"), jpeg));
    SwitchConnectivity online;
    WindowPresenters presenters(
        online, appDir,
        [&](const std::string&) { return std::string(jpeg.constData(), size_t(jpeg.size())); },
        TestSettings());
    struct Probe {
        int x, y;
        QColor colour;
    } probes[] = {{4, 4, kRed},       {1275, 4, kGreen}, {4, 715, kBlue}, {1275, 715, kYellow},
                  {630, 350, kRed},   {650, 350, kGreen}, {630, 370, kBlue}, {650, 370, kYellow}};
    for (MediaSource source : {MediaSource::kLocalFile, MediaSource::kOnline}) {
        const char* what = source == MediaSource::kOnline ? "online" : "local";
        const QImage screen =
            ShowAndGrab(presenters, source == MediaSource::kOnline ? "http://127.0.0.1:9/h.jpg"
                                                                   : folder.File("huge.jpg"),
                        source, kRed);
        ASSERT_FALSE(screen.isNull()) << what << ": " << presenters.LastItemEnd().detail;
        for (const Probe& p : probes) {
            EXPECT_TRUE(Near(screen.pixelColor(p.x, p.y), p.colour))
                << what << " at " << p.x << "," << p.y << ": " << Describe(screen.pixelColor(p.x, p.y));
        }
        EXPECT_EQ(presenters.LastItemEnd().cause, ItemEndCause::kStop) << what;
    }
}

// A picture the reader cannot decode within its memory limit ends its item
// with "too large: W × H" and a line in the log: a PNG (read whole) of
// 20,000 × 20,000, a JPEG even whose smallest decode (1/8) is too large.
TEST(ImagePresenter, APictureTooLargeToDecodeEndsItsItemSayingSo) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    FixedAppDirectory appDir(folder.Path());
    const QByteArray hugeJpeg =
        FlatBlockJpeg(65000, 60000, [](int, int) { return kRed; }, /*headerOnly=*/true);
    struct Case {
        const char* file;
        QByteArray bytes;
        MediaSource source;
        const char* detail;
    } cases[] = {
        {"huge.png", PngHeaderOf(20000, 20000), MediaSource::kLocalFile, "too large: 20000 × 20000"},
        {"huge.jpg", hugeJpeg, MediaSource::kLocalFile, "too large: 65000 × 60000"},
        {"http://127.0.0.1:9/huge.jpg", hugeJpeg, MediaSource::kOnline, "too large: 65000 × 60000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        LogRecorder log;
        SwitchConnectivity online;
        WindowPresenters presenters(
            online, appDir,
            [&](const std::string&) { return std::string(c.bytes.constData(), size_t(c.bytes.size())); },
            TestSettings());
        std::string location = c.file;
        if (c.source == MediaSource::kLocalFile) {
            location = folder.File(c.file);
            ASSERT_TRUE(WriteFile(location, c.bytes));
        }
        // Closed at once should it show anything at all.
        After(0, [&] { presenters.CloseAllPresenters(); });
        if (c.source == MediaSource::kLocalFile) {
            EXPECT_THROW(presenters.ShowImage(location, 0, c.source), std::runtime_error);
        } else {
            EXPECT_NO_THROW(presenters.ShowImage(location, 0, c.source));
        }
        EXPECT_EQ(presenters.LastItemEnd().cause, ItemEndCause::kError);
        EXPECT_EQ(presenters.LastItemEnd().detail, c.detail);
        EXPECT_EQ(log.WarningsAbout(c.detail), 1);
        Spin(20);
    }
}

// A file written again later: another content and a later modification time.
void Rewrite(const std::string& path, const QByteArray& bytes) {
    ASSERT_TRUE(WriteFile(path, bytes));
    const auto t = std::filesystem::last_write_time(path);
    std::filesystem::last_write_time(path, t + std::chrono::seconds(2));
}

TEST(ImagePresenter, APreparedPictureIsShownAtItsTurnAndThenLetGo) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    FixedAppDirectory appDir(folder.Path());
    ASSERT_TRUE(WriteFile(folder.File("quarters.jpg"), Encoded(Quarters(1920, 1080), "jpeg")));
    SwitchConnectivity online;
    WindowPresenters presenters(online, appDir, {}, TestSettings());

    ASSERT_TRUE(WriteFile(folder.File("current.png"), Encoded(Plain(kMagenta), "png")));
    // Nothing is decoded before the item shown meanwhile is on screen.
    presenters.PreparePicture(folder.File("quarters.jpg"));
    Spin(100);
    EXPECT_EQ(presenters.Preparer().Requested(), 0);
    ASSERT_TRUE(ShowWhilePreparing(presenters, folder.File("current.png"), folder.File("quarters.jpg")));
    ASSERT_TRUE(presenters.Preparer().HoldsPicture());

    bool painted = false;
    QImage screen;
    After(0, [&] {
        painted = WaitForPixel(4, 4, kRed, 5000);
        screen = GrabScreen();
        presenters.CloseAllPresenters();
    });
    presenters.ShowImage(folder.File("quarters.jpg"), 0, MediaSource::kLocalFile);

    ASSERT_TRUE(painted);
    EXPECT_TRUE(Near(screen.pixelColor(1275, 4), kGreen));
    EXPECT_TRUE(Near(screen.pixelColor(4, 715), kBlue));
    EXPECT_TRUE(Near(screen.pixelColor(1275, 715), kYellow));
    // Taken by its item: nothing is held after it.
    EXPECT_FALSE(presenters.Preparer().HoldsPicture());
    EXPECT_EQ(presenters.LastItemEnd().cause, ItemEndCause::kStop);
}

TEST(ImagePresenter, AFileRewrittenAfterPreparingShowsItsNewContent) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    FixedAppDirectory appDir(folder.Path());
    const std::string path = folder.File("p.png");
    ASSERT_TRUE(WriteFile(path, Encoded(Plain(kRed), "png")));
    SwitchConnectivity online;
    WindowPresenters presenters(online, appDir, {}, TestSettings());
    ASSERT_TRUE(WriteFile(folder.File("current.png"), Encoded(Plain(kMagenta), "png")));
    ASSERT_TRUE(ShowWhilePreparing(presenters, folder.File("current.png"), path));
    ASSERT_TRUE(presenters.Preparer().HoldsPicture());

    Rewrite(path, Encoded(Plain(kBlue), "png"));

    QColor shown;
    After(0, [&] {
        WaitForPixel(640, 360, kBlue, 3000);
        shown = GrabScreen().pixelColor(640, 360);
        presenters.CloseAllPresenters();
    });
    presenters.ShowImage(path, 0, MediaSource::kLocalFile);
    EXPECT_TRUE(Near(shown, kBlue)) << Describe(shown);
    EXPECT_FALSE(presenters.Preparer().HoldsPicture());
}

TEST(ImagePresenter, AnUnreadablePictureThrowsAtItsTurnWhateverWasPrepared) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    const QByteArray good = Encoded(Plain(kGreen), "png");
    struct Case {
        const char* name;
        const char* file;
        QByteArray bytes;               // the file when prepared
        std::optional<QByteArray> then;  // rewritten to this before its turn
    } cases[] = {
        {"never decodable", "png-in.jpg", good, std::nullopt},
        {"cut short", "short.png", good.left(60), std::nullopt},
        {"rewritten unreadable after preparing", "p.png", good, good.left(60)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FixedAppDirectory appDir(folder.Path());
        const std::string path = folder.File(c.file);
        ASSERT_TRUE(WriteFile(path, c.bytes));
        SwitchConnectivity online;
        WindowPresenters presenters(online, appDir, {}, TestSettings());
        ASSERT_TRUE(WriteFile(folder.File("current.png"), Encoded(Plain(kMagenta), "png")));
        ASSERT_TRUE(ShowWhilePreparing(presenters, folder.File("current.png"), path));
        EXPECT_EQ(presenters.Preparer().HoldsPicture(), c.then.has_value());
        if (c.then) Rewrite(path, *c.then);

        // Closed at once should it show anything at all.
        After(0, [&] { presenters.CloseAllPresenters(); });
        EXPECT_THROW(presenters.ShowImage(path, 0, MediaSource::kLocalFile), std::runtime_error);
        EXPECT_EQ(presenters.LastItemEnd().cause, ItemEndCause::kError);
        Spin(20);
    }
}

TEST(ImagePresenter, TheEndOfARunLetsAPreparedPictureGo) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    FixedAppDirectory appDir(folder.Path());
    ASSERT_TRUE(WriteFile(folder.File("p.png"), Encoded(Plain(kRed), "png")));
    SwitchConnectivity online;
    WindowPresenters presenters(online, appDir, {}, TestSettings());

    ASSERT_TRUE(WriteFile(folder.File("current.png"), Encoded(Plain(kMagenta), "png")));

    presenters.BeginRun();
    presenters.BeginRun();
    ASSERT_TRUE(ShowWhilePreparing(presenters, folder.File("current.png"), folder.File("p.png")));
    EXPECT_TRUE(presenters.Preparer().HoldsPicture());
    presenters.EndRun();  // the inner run: the outer one goes on
    EXPECT_TRUE(presenters.Preparer().HoldsPicture());
    presenters.EndRun();
    EXPECT_FALSE(presenters.Preparer().HoldsPicture());

    // A picture asked for but not handed over yet goes too: the next run's
    // first item does not start its decode.
    presenters.BeginRun();
    presenters.PreparePicture(folder.File("p.png"));
    presenters.EndRun();
    presenters.BeginRun();
    After(0, [&] {
        WaitFor([] { return VisiblePresenterWindows("PictureWindow") > 0; }, 5000);
        Spin(200);
        presenters.CloseAllPresenters();
    });
    presenters.ShowImage(folder.File("current.png"), 0, MediaSource::kLocalFile);
    presenters.EndRun();
    EXPECT_EQ(presenters.Preparer().Requested(), 1);
}

}  // namespace
}  // namespace zorvak
