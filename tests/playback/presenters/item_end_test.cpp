// How an item ended, as WindowPresenters reports it to the play loop after
// each call: time up, a key, Esc, a close by code, an error, or not shown.

#include <QBuffer>
#include <QImage>
#include <QObject>

#include <functional>
#include <string>

#include "playback/presenters/picture_window.h"
#include "presenter_test_env.h"

namespace zorvak {
namespace {

using namespace zorvak::test;

QByteArray Jpeg() {
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "jpeg");
    return bytes;
}

bool WriteBytes(const std::string& path, const QByteArray& bytes) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The application's Esc handling as the client installs it: an application
// event filter installed before any presenter window exists, which closes
// every presenter on Esc and lets the key go on.
class EscCloser final : public QObject {
public:
    explicit EscCloser(Presenters& presenters) : presenters_(presenters) {
        qApp->installEventFilter(this);
    }
    ~EscCloser() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && !seen_) {
            seen_ = true;
            presenters_.CloseAllPresenters();
        }
        if (event->type() == QEvent::KeyRelease) seen_ = false;
        return false;
    }

private:
    Presenters& presenters_;
    bool seen_ = false;
};

TEST(ItemEnd, EachWayAPictureEndsIsReported) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    FixedAppDirectory appDir(folder.Path());
    ASSERT_TRUE(WriteBytes(folder.File("p.jpg"), Jpeg()));
    SwitchConnectivity online;
    WindowPresenters presenters(online, appDir, {}, TestSettings());
    EscCloser escHook(presenters);

    struct Case {
        const char* what;
        int seconds;
        std::function<void()> during;  // run once the picture is on screen
        ItemEndCause cause;
    };
    auto key = [&](int code, const QString& text) {
        return [&presenters, code, text] {
            SendKey(KeyTarget(presenters.Pictures()), code, text);
        };
    };
    const Case cases[] = {
        {"time up", 1, nullptr, ItemEndCause::kTimeUp},
        {"a key", 30, key(Qt::Key_A, QStringLiteral("a")), ItemEndCause::kKey},
        {"Enter", 30, key(Qt::Key_Return, QStringLiteral("\r")), ItemEndCause::kKey},
        {"Esc", 30, key(Qt::Key_Escape, QStringLiteral("\x1b")), ItemEndCause::kEscape},
        {"closed by code", 30, [&] { presenters.CloseAllPresenters(); }, ItemEndCause::kStop},
    };
    for (const Case& c : cases) {
        if (c.during) After(300, c.during);
        presenters.ShowImage(folder.File("p.jpg"), c.seconds, MediaSource::kLocalFile);
        const ItemEnd end = presenters.LastItemEnd();
        EXPECT_EQ(end.cause, c.cause) << c.what << ": " << ItemEndCauseName(end.cause);
        EXPECT_EQ(end.detail, "") << c.what;
    }
}

TEST(ItemEnd, CallsThatShowNothingSayWhy) {
    ZORVAK_NEEDS_DISPLAY();
    TempFolder folder;
    FixedAppDirectory appDir(folder.Path());
    SwitchConnectivity online;
    WindowPresenters presenters(
        online, appDir, [](const std::string&) -> std::optional<std::string> { return std::nullopt; },
        TestSettings());

    presenters.ShowImage(folder.File("none.jpg"), 1, MediaSource::kLocalFile);
    EXPECT_EQ(presenters.LastItemEnd().cause, ItemEndCause::kNotShown);
    EXPECT_EQ(presenters.LastItemEnd().detail, "no such file");

    presenters.ShowWebPage(folder.File("none.html"), 1, MediaSource::kLocalFile);
    EXPECT_EQ(presenters.LastItemEnd().cause, ItemEndCause::kNotShown);

    online.online = false;
    presenters.ShowImage("http://127.0.0.1:9/p.jpg", 1, MediaSource::kOnline);
    EXPECT_EQ(presenters.LastItemEnd().cause, ItemEndCause::kNotShown);
    EXPECT_EQ(presenters.LastItemEnd().detail, "offline");

    // An online picture that cannot be fetched: the call swallows the error
    // and reports it.
    online.online = true;
    presenters.ShowImage("http://127.0.0.1:9/p.jpg", 1, MediaSource::kOnline);
    EXPECT_EQ(presenters.LastItemEnd().cause, ItemEndCause::kError);
    EXPECT_EQ(presenters.LastItemEnd().detail, "The picture could not be fetched");
}

}  // namespace
}  // namespace zorvak
