#include <QImage>
#include <QTimer>

#include <atomic>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/tick_timer.h"
#include "client_rig.h"
#include "tests/support/files.h"
#include "playlist/fetch.h"
#include "tests/support/store_file.h"

namespace zorvak::test {
namespace {

// The top-level widget of that object name that is on screen, if any.
QWidget* Visible(const char* objectName) {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == objectName && top->isVisible()) return top;
    return nullptr;
}

TEST(RealPresenters, EscClosesThePictureOnScreenAndEndsTheLoop) {
    ZORVAK_NEEDS_DISPLAY();
    ClientRig rig;
    rig.realPresenters = true;
    rig.WriteIni("[PLAYLIST]\nKEYWORD=a\nnoautorun=0\n");
    std::vector<PlaylistItem> items;
    for (int i = 1; i <= 2; ++i) {
        PlaylistItem item;
        item.id = i;
        item.order_sx = i;
        item.f_filename = "p" + std::to_string(i) + ".png";
        item.play_time = 30;
        items.push_back(item);
        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(i == 1 ? Qt::red : Qt::blue);
        std::filesystem::create_directories(rig.folder.Path() + "data");
        ASSERT_TRUE(picture.save(QString::fromStdString(rig.folder.Path() + "data/" +
                                                        item.f_filename.Text())));
    }
    rig.ImportPlaylist(ClientPlaylist(items));

    // Esc once the first picture is on screen.
    int pictures = 0;
    QTimer watcher;
    watcher.setInterval(20);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (QWidget* picture = Visible("frmFullScreenImg")) {
            ++pictures;
            watcher.stop();
            PressKey(picture, Qt::Key_Escape);
        }
    });
    watcher.start();
    QElapsedTimer clock;
    clock.start();
    Client& c = rig.Start();
    ControlWindow& w = c.Window();

    EXPECT_EQ(pictures, 1);
    EXPECT_LT(clock.elapsed(), 20000);  // not the item's 30 s: Esc ended it
    EXPECT_EQ(Visible("frmFullScreenImg"), nullptr);
    EXPECT_FALSE(c.Flags().KeepPlaying);
    EXPECT_TRUE(c.Flags().PlayActive);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(rig.journal.Count("Chrome hide"), 1);
    EXPECT_EQ(rig.journal.Count("Chrome show"), 1);
    EXPECT_TRUE(rig.errors.empty());
}

TEST(RealPresenters, EscInsideAWebPageReachesTheHook) {
    ZORVAK_NEEDS_DISPLAY();
    ClientRig rig;
    rig.realPresenters = true;
    rig.WriteIni("[PLAYLIST]\nKEYWORD=a\nnoautorun=0\n");
    PlaylistItem page;
    page.f_lx = "30";
    page.f_filename = "page.html";
    page.play_time = 30;
    rig.ImportPlaylist(ClientPlaylist({page}));
    rig.CacheFile("page.html", "<html><body><input autofocus></body></html>");

    // Once the page window is up, the key goes straight to the widget that
    // has the focus inside it (the page's view), not through the window.
    int pages = 0;
    QTimer watcher;
    watcher.setInterval(50);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        QWidget* window = Visible("frmFullScreenHtml");
        QWidget* focus = QApplication::focusWidget();
        if (window && focus && window->isAncestorOf(focus)) {
            ++pages;
            watcher.stop();
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(focus, &press);
        }
    });
    watcher.start();
    Client& c = rig.Start();
    ControlWindow& w = c.Window();
    watcher.stop();

    EXPECT_EQ(pages, 1);
    EXPECT_EQ(Visible("frmFullScreenHtml"), nullptr);
    EXPECT_FALSE(c.Flags().KeepPlaying);
    EXPECT_TRUE(w.isVisible());
}

TEST(Fetch, TheButtonFillsTheMemoAndImportsTheDocument) {
    ZORVAK_NEEDS_DISPLAY();
    ClientRig rig;
    rig.WriteIni("[PLAYLIST]\nKEYWORD=shop\nnoautorun=1\n");
    PlaylistItem item;
    item.playname = "新品";
    const std::string document = ClientPlaylist({item});
    rig.server.Route("/getplaylist.php", Response::Text(document, "text/xml"));
    Client& c = rig.Start();
    auto* memo = rig.Child<QPlainTextEdit>("mmTmp");
    EXPECT_TRUE(memo->toPlainText().isEmpty());

    rig.Child<QPushButton>("btnDownPlayList")->click();
    ASSERT_TRUE(ServeUntil([&] { return !c.Fetcher().IsBusy(); }));
    ASSERT_EQ(rig.server.RequestCount("/getplaylist.php"), 1);
    EXPECT_EQ(rig.server.Requests().back().QueryValue("hostname"), "shop");
    EXPECT_EQ(memo->toPlainText().trimmed(), QString::fromStdString(document).trimmed());
    EXPECT_TRUE(memo->toPlainText().contains(QString::fromUtf8("新品")));
    c.Store().PlayList().Open();
    ASSERT_EQ(c.Store().PlayList().RecordCount(), 1);
    EXPECT_EQ(c.Store().PlayList().FieldText("playname"), "新品");

    // The refresh tick fetches too; the same text changes nothing.
    c.RefreshTimer().PostTick();
    ServeUntil([&] { return rig.server.RequestCount("/getplaylist.php") == 2; });
    EXPECT_EQ(rig.server.RequestCount("/getplaylist.php"), 2);
    // Offline: the tick does nothing.
    rig.connectivity->online = false;
    c.RefreshTimer().PostTick();
    ServeEvents(50);
    EXPECT_EQ(rig.server.RequestCount("/getplaylist.php"), 2);
}

// The media of the valid local items arrive in the background, without a
// run: those of the store's playlist when the client starts, those of a new
// playlist after the fetch imported it; each with one HEAD and one GET, and
// nothing for an online item.
TEST(Fetch, TheMediaOfThePlaylistArriveInTheBackgroundAtStartAndAfterAnImport) {
    ZORVAK_NEEDS_DISPLAY();
    ClientRig rig;
    rig.WriteIni("[PLAYLIST]\nKEYWORD=shop\nnoautorun=1\n");
    for (const char* path : {"/old.jpg", "/new.mp4", "/new.jpg", "/online.jpg"})
        rig.server.Route(path, Response::Text(std::string(20000, path[1]), "application/octet-stream"));
    auto item = [&](const char* name, int online = 0) {
        PlaylistItem i;
        i.f_filename = name;
        i.listurl = rig.server.Url(std::string("/") + name);
        i.online_play = online;
        return i;
    };
    rig.ImportPlaylist(ClientPlaylist({item("old.jpg")}));
    rig.server.Route("/getplaylist.php",
                     Response::Text(ClientPlaylist({item("new.mp4"), item("new.jpg"),
                                                    item("online.jpg", 1)}),
                                    "text/xml"));
    const std::string data = rig.folder.Path() + "data/";
    Client& c = rig.Start();
    EXPECT_FALSE(c.Flags().PlayActive);
    ASSERT_TRUE(ServeUntil([&] { return std::filesystem::exists(data + "old.jpg"); }));

    rig.Child<QPushButton>("btnDownPlayList")->click();
    ASSERT_TRUE(ServeUntil([&] {
        return std::filesystem::exists(data + "new.mp4") && std::filesystem::exists(data + "new.jpg");
    }));
    ServeEvents(200);

    EXPECT_EQ(ReadFile(data + "new.mp4"), std::string(20000, 'n'));
    for (const char* path : {"/old.jpg", "/new.mp4", "/new.jpg"})
        EXPECT_EQ(rig.server.RequestCount(path), 2) << path;
    EXPECT_EQ(rig.server.RequestCount("/online.jpg"), 0);
    EXPECT_FALSE(std::filesystem::exists(data + "online.jpg"));
    EXPECT_TRUE(rig.presenters->calls.empty());
}

TEST(Fetch, ADocumentWithCrLfLineEndsIsNotImportedAgainWhileUnchanged) {
    ZORVAK_NEEDS_DISPLAY();
    ClientRig rig;
    rig.WriteIni("[PLAYLIST]\nKEYWORD=shop\nnoautorun=1\n");
    std::string document;
    for (char c : ClientPlaylist({PlaylistItem{}})) {
        if (c == '\n') document += '\r';
        document += c;
    }
    document.insert(document.find("<item>"), "\r\n");
    rig.server.Route("/getplaylist.php", Response::Text(document, "text/xml"));
    Client& c = rig.Start();

    rig.Child<QPushButton>("btnDownPlayList")->click();
    ASSERT_TRUE(ServeUntil([&] { return !c.Fetcher().IsBusy(); }));
    c.Store().PlayList().Open();
    ASSERT_EQ(c.Store().PlayList().RecordCount(), 1);
    const std::string firstId = c.Store().PlayList().FieldText("ID");

    // The same text again: the memo still holds it, so nothing is imported
    // (an import would give the row a new ID).
    rig.Child<QPushButton>("btnDownPlayList")->click();
    ASSERT_TRUE(ServeUntil([&] { return !c.Fetcher().IsBusy(); }));
    ASSERT_EQ(rig.server.RequestCount("/getplaylist.php"), 2);
    c.Store().PlayList().Open();
    ASSERT_EQ(c.Store().PlayList().RecordCount(), 1);
    EXPECT_EQ(c.Store().PlayList().FieldText("ID"), firstId);
}

// The playnames in the store file, read through a connection of the test.
std::vector<std::string> StoredNames(const ClientRig& rig) {
    std::vector<std::string> names;
    for (const auto& row :
         Query(rig.folder.Path() + PlaylistStore::kFileName, "SELECT playname FROM t_b_data ORDER BY ID"))
        names.push_back(row[0]);
    return names;
}

// A fetch asked for while one is under way (here the button pressed again
// when the memo shows the first answer, before that answer's commit) sends
// nothing: the store and the memo end holding the same document, and the
// next press brings the newer one into both.
TEST(Fetch, AFetchAskedWhileOneIsUnderWayLeavesTheStoreAndTheMemoAlike) {
    ZORVAK_NEEDS_DISPLAY();
    ClientRig rig;
    rig.WriteIni("[PLAYLIST]\nKEYWORD=shop\nnoautorun=1\n");
    PlaylistItem first, second;
    first.playname = "first";
    second.playname = "second";
    const std::string firstDocument = ClientPlaylist({first});
    const std::string secondDocument = ClientPlaylist({second});
    std::atomic<int> answered{0};
    rig.server.Route("/getplaylist.php", [&](const Request&) {
        return Response::Text(answered++ == 0 ? firstDocument : secondDocument, "text/xml");
    });
    Client& c = rig.Start();
    auto* memo = rig.Child<QPlainTextEdit>("mmTmp");
    bool asked = false;
    QObject::connect(&c.Model(), &ClientModel::playlistTextChanged, &c.Model(), [&] {
        if (asked) return;
        asked = true;
        c.Model().Fetch();
    });

    rig.Child<QPushButton>("btnDownPlayList")->click();
    ASSERT_TRUE(ServeUntil([&] { return asked && !StoredNames(rig).empty(); }));
    ServeEvents(300);
    EXPECT_EQ(rig.server.RequestCount("/getplaylist.php"), 1);
    EXPECT_EQ(StoredNames(rig), std::vector<std::string>{"first"});
    EXPECT_TRUE(memo->toPlainText().contains("<playname>first</playname>"));

    rig.Child<QPushButton>("btnDownPlayList")->click();
    ASSERT_TRUE(ServeUntil([&] { return StoredNames(rig) == std::vector<std::string>{"second"}; }));
    EXPECT_TRUE(memo->toPlainText().contains("<playname>second</playname>"));
}

// A play run started while a fetch is under way (the play button pressed
// while the request waits) does not hold the fetch: its commit happens while
// the run's first item is on screen, whose presenter sees the new rows.
// Auto-play on an empty store (a store just replaced after damage starts
// empty): the start-up run finds no rows and ends. The first refresh that
// imports rows starts loop play at once, not at the watchdog's tick 100
// minutes later. Once the operator stopped play (Esc), an import starts
// nothing.
TEST(Fetch, AnImportStartsTheLoopPlayThatFoundNoRows) {
    ZORVAK_NEEDS_DISPLAY();
    ClientRig rig;
    rig.WriteIni("[PLAYLIST]\nKEYWORD=shop\nnoautorun=0\n");
    PlaylistItem first, second;
    first.playname = "first";
    first.f_filename = "first.jpg";
    second.playname = "second";
    second.f_filename = "second.jpg";
    rig.CacheFile("first.jpg");
    rig.CacheFile("second.jpg");
    rig.server.Route("/getplaylist.php", Response::Text(ClientPlaylist({first}), "text/xml"));
    Client& c = rig.Start();
    ASSERT_TRUE(rig.presenters->calls.empty());
    EXPECT_FALSE(c.Flags().PlayActive);

    // The first item of the started run: Esc, as the operator presses it.
    rig.presenters->At(0, [&] { c.Model().StopOnEscape(); });
    c.RefreshTimer().PostTick();
    ASSERT_TRUE(ServeUntil([&] { return !rig.presenters->calls.empty(); }, 10000));
    ASSERT_TRUE(ServeUntil([&] { return !c.Flags().KeepPlaying && rig.presenters->Open() == nullptr; }));
    EXPECT_EQ(std::filesystem::path(rig.presenters->calls[0].location).filename(), "first.jpg");

    rig.server.Route("/getplaylist.php", Response::Text(ClientPlaylist({second}), "text/xml"));
    c.RefreshTimer().PostTick();
    ASSERT_TRUE(ServeUntil([&] { return StoredNames(rig) == std::vector<std::string>{"second"}; }));
    ServeEvents(200);
    EXPECT_EQ(rig.presenters->calls.size(), 1u);
    EXPECT_TRUE(rig.errors.empty());
}

TEST(Fetch, APlayRunStartedWhileAFetchIsUnderWayDoesNotHoldItsCommit) {
    ZORVAK_NEEDS_DISPLAY();
    ClientRig rig;
    rig.WriteIni("[PLAYLIST]\nKEYWORD=shop\nnoautorun=1\n");
    PlaylistItem old, fresh;
    old.playname = "old";
    old.f_filename = "old.jpg";
    fresh.playname = "new";
    fresh.f_filename = "new.jpg";
    rig.ImportPlaylist(ClientPlaylist({old}));
    rig.CacheFile("old.jpg");
    Response answer = Response::Text(ClientPlaylist({fresh}), "text/xml");
    answer.headerDelay = std::chrono::milliseconds(300);  // the run is on before the answer
    rig.server.Route("/getplaylist.php", answer);
    Client& c = rig.Start();

    std::vector<std::string> seen;
    rig.presenters->At(0, [&] {
        ServeUntil([&] { return StoredNames(rig) == std::vector<std::string>{"new"}; }, 3000);
        seen = StoredNames(rig);
        if (QWidget* open = rig.presenters->Open()) open->close();
    });
    QTimer::singleShot(0, &c.Model(), [&] { rig.Child<QPushButton>("btnPlayOnce")->click(); });
    rig.Child<QPushButton>("btnDownPlayList")->click();
    ASSERT_TRUE(ServeUntil([&] { return !seen.empty(); }, 10000));
    EXPECT_EQ(seen, std::vector<std::string>{"new"});
    ASSERT_EQ(rig.presenters->calls.size(), 1u);
    EXPECT_EQ(std::filesystem::path(rig.presenters->calls[0].location).filename(), "old.jpg");
}

}  // namespace
}  // namespace zorvak::test

namespace zorvak::test {
namespace {

bool NearRed(const QColor& c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; }

QColor ScreenPixel(const QPoint& at) {
    QImage shot = QGuiApplication::primaryScreen()->grabWindow(0, at.x(), at.y(), 1, 1).toImage();
    return shot.isNull() ? QColor() : shot.pixelColor(0, 0);
}

// Under a window manager that keeps windows asked to stay on top above the
// others, a message box shown during a run (here the standard error box, over
// a picture on screen and the run's backdrop) opens above them, where it can
// be seen and answered; a box beneath them would hold the run for good.
TEST(MessageBoxes, OpenAboveThePresenterUnderAWindowManager) {
    ZORVAK_NEEDS_DISPLAY();
    WindowManager manager("openbox");
    ASSERT_TRUE(manager.Running()) << "openbox did not take the screen";
    TempFolder folder;
    FixedAppDirectory appDir(folder.Path());
    QImage red(320, 240, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(QString::fromStdString(folder.File("red.png"))));
    SwitchConnectivity online;
    PresenterSettings settings;
    settings.player.audioOutput = "null";
    WindowPresenters presenters(online, appDir, {}, settings);
    const QPoint middle = QGuiApplication::primaryScreen()->geometry().center();

    bool pictureSeen = false;
    bool boxSeen = false;
    QTimer::singleShot(0, qApp, [&] {
        pictureSeen = ServeUntil([&] { return NearRed(ScreenPixel(middle)); }, 10000);
        // Runs inside the box's own loop, once it is up.
        QTimer::singleShot(0, qApp, [&] {
            QWidget* box = nullptr;
            ServeUntil([&] { return (box = QApplication::activeModalWidget()) != nullptr &&
                                    qobject_cast<QMessageBox*>(box) != nullptr && box->isVisible(); },
                       5000);
            if (box == nullptr) return;
            const QPoint centre = box->frameGeometry().center();
            boxSeen = ServeUntil(
                [&] {
                    const QColor c = ScreenPixel(centre);
                    return c.isValid() && !NearRed(c) && c != Qt::black;
                },
                5000);
            if (auto* messageBox = qobject_cast<QMessageBox*>(box)) messageBox->done(0);
        });
        ShowStandardErrorBox("The picture could not be fetched");
        presenters.CloseAllPresenters();
    });
    presenters.BeginRun();
    presenters.ShowImage(folder.File("red.png"), 0, MediaSource::kLocalFile);
    presenters.EndRun();

    EXPECT_TRUE(pictureSeen) << "the picture never showed; the middle of the screen is "
                             << ScreenPixel(middle).name().toStdString();
    EXPECT_TRUE(boxSeen) << "the box opened beneath the picture";
}

}  // namespace
}  // namespace zorvak::test
