#include <QMenu>
#include <QPushButton>
#include <QToolButton>

#include "app/tick_timer.h"
#include "client_rig.h"

namespace zorvak::test {
namespace {

std::vector<PlaylistItem> ThreeImages() {
    std::vector<PlaylistItem> items;
    for (int i = 1; i <= 3; ++i) {
        PlaylistItem item;
        item.id = i;
        item.order_sx = i;
        item.playname = "img" + std::to_string(i);
        item.f_filename = "img" + std::to_string(i) + ".jpg";
        item.listurl = "http://127.0.0.1:9/" + item.f_filename.Text();
        items.push_back(item);
    }
    return items;
}

std::vector<std::string> Shown(const ModalRecordingPresenters& p) {
    std::vector<std::string> names;
    for (const auto& c : p.calls) names.push_back(std::filesystem::path(c.location).filename());
    return names;
}

struct PlayingRig : ClientRig {
    explicit PlayingRig(bool autoPlay) {
        WriteIni(std::string("[PLAYLIST]\nKEYWORD=a\nnoautorun=") + (autoPlay ? "0" : "1") + "\n");
        ImportPlaylist(ClientPlaylist(ThreeImages()));
        for (int i = 1; i <= 3; ++i) CacheFile("img" + std::to_string(i) + ".jpg");
    }
};

TEST(Escape, DuringALoopRunClosesTheItemStopsTheRunAndShowsTheWindow) {
    ZORVAK_NEEDS_DISPLAY();
    PlayingRig rig(true);
    bool startUpReturned = false;
    bool insideStartUp = false;
    bool controlWindowHidden = false;
    rig.beforeStart = [&] {
        rig.presenters->At(1, [&] {
            insideStartUp = !startUpReturned;
            for (QWidget* top : QApplication::topLevelWidgets())
                if (top->objectName() == "quenloMain") controlWindowHidden = !top->isVisible();
            PressKey(rig.presenters->Open(), Qt::Key_Escape);
        });
    };
    Client& c = rig.Start();
    startUpReturned = true;
    ControlWindow& w = c.Window();

    // The run started by start-up ran inside the start-up sequence, with the
    // window in the tray.
    EXPECT_TRUE(insideStartUp);
    EXPECT_TRUE(controlWindowHidden);
    EXPECT_EQ(Shown(*rig.presenters), (std::vector<std::string>{"img1.jpg", "img2.jpg"}));
    EXPECT_EQ(rig.presenters->Open(), nullptr);
    EXPECT_FALSE(c.Flags().KeepPlaying);
    EXPECT_FALSE(c.Flags().RepeatList);
    EXPECT_TRUE(c.Flags().PlayActive);
    EXPECT_FALSE(w.MinimizedToTray());
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(rig.journal.Count("Chrome hide"), 1);
    EXPECT_EQ(rig.journal.Count("Chrome show"), 1);
    EXPECT_TRUE(rig.errors.empty());

    // The watchdog does not start playback again: it only sets the flags.
    c.WatchdogTimer().PostTick();
    ServeEvents(50);
    EXPECT_EQ(rig.presenters->calls.size(), 2u);
    EXPECT_TRUE(c.Flags().KeepPlaying && c.Flags().RepeatList && c.Flags().PlayActive);
}

TEST(Escape, WhileNothingPlaysRestoresTheWindowAndClearsTwoFlags) {
    ZORVAK_NEEDS_DISPLAY();
    PlayingRig rig(false);
    Client& c = rig.Start();
    ControlWindow& w = c.Window();
    c.ShowMainWindow();
    w.close();  // to the tray
    ServeEvents(20);
    ASSERT_TRUE(w.MinimizedToTray());
    c.Flags() = {true, true, false};

    PressKey(&w, Qt::Key_Escape);
    EXPECT_TRUE(ServeUntil([&] { return w.isVisible(); }));
    EXPECT_FALSE(w.MinimizedToTray());
    EXPECT_FALSE(c.Flags().KeepPlaying);
    EXPECT_FALSE(c.Flags().RepeatList);
    EXPECT_FALSE(c.Flags().PlayActive);
    EXPECT_TRUE(rig.presenters->calls.empty());
    EXPECT_EQ(rig.journal.Count("CloseAllPresenters"), 1);
}

TEST(Escape, ReachesTheFocusedWidgetAfterTheHook) {
    ZORVAK_NEEDS_DISPLAY();
    PlayingRig rig(false);
    Client& c = rig.Start();
    ControlWindow& w = c.Window();
    c.ShowMainWindow();
    ServeEvents(20);
    // One press counts once although it travels through several receivers.
    PressKey(&w, Qt::Key_Escape);
    ServeEvents(20);
    EXPECT_EQ(rig.journal.Count("CloseAllPresenters"), 1);
    PressKey(&w, Qt::Key_Escape);
    ServeEvents(20);
    EXPECT_EQ(rig.journal.Count("CloseAllPresenters"), 2);
    PressKey(&w, Qt::Key_A, "a");
    ServeEvents(20);
    EXPECT_EQ(rig.journal.Count("CloseAllPresenters"), 2);
}

TEST(StopToggle, StopWhileNothingPlaysThenAWatchdogTickStartsLoopPlay) {
    ZORVAK_NEEDS_DISPLAY();
    PlayingRig rig(false);
    Client& c = rig.Start();
    auto* stop = rig.Child<QPushButton>("btnStop");
    ASSERT_EQ(stop->text(), QString::fromUtf8("停止播放"));
    stop->click();
    EXPECT_EQ(stop->text(), QString::fromUtf8("开始播放"));
    EXPECT_FALSE(c.Flags().KeepPlaying || c.Flags().RepeatList || c.Flags().PlayActive);

    // The tick's run plays the list until Esc on its second pass.
    rig.presenters->At(4, [&] { PressKey(rig.presenters->Open(), Qt::Key_Escape); });
    c.WatchdogTimer().PostTick();
    EXPECT_TRUE(ServeUntil([&] { return rig.presenters->calls.size() >= 5; }));
    ServeEvents(20);
    EXPECT_EQ(Shown(*rig.presenters),
              (std::vector<std::string>{"img1.jpg", "img2.jpg", "img3.jpg", "img1.jpg",
                                        "img2.jpg"}));
    EXPECT_EQ(stop->text(), QString::fromUtf8("开始播放"));
    // Esc ended the run; the tick's last step then set every flag.
    EXPECT_TRUE(c.Flags().KeepPlaying && c.Flags().RepeatList && c.Flags().PlayActive);

    // In its start state the toggle sets the flags and starts nothing.
    stop->click();
    EXPECT_EQ(stop->text(), QString::fromUtf8("停止播放"));
    EXPECT_TRUE(c.Flags().KeepPlaying && c.Flags().RepeatList && c.Flags().PlayActive);
    ServeEvents(20);
    EXPECT_EQ(rig.presenters->calls.size(), 5u);
}

TEST(Watchdog, ATickDuringPlayOnceTurnsTheRunIntoALoop) {
    ZORVAK_NEEDS_DISPLAY();
    PlayingRig rig(false);
    Client& c = rig.Start();
    rig.presenters->At(0, [&] {
        // The tick is served inside the item's modal loop; then the item ends.
        c.WatchdogTimer().PostTick();
        ServeUntil([&] { return !c.WatchdogTimer().TickPending(); });
        EXPECT_TRUE(c.Flags().RepeatList);
        rig.presenters->CloseAllPresenters();
    });
    rig.presenters->At(4, [&] { PressKey(rig.presenters->Open(), Qt::Key_Escape); });
    rig.Child<QPushButton>("btnPlayOnce")->click();

    EXPECT_EQ(Shown(*rig.presenters),
              (std::vector<std::string>{"img1.jpg", "img2.jpg", "img3.jpg", "img1.jpg",
                                        "img2.jpg"}));
    EXPECT_FALSE(c.Flags().KeepPlaying);
    EXPECT_TRUE(c.Flags().PlayActive);
    // Play once neither minimises nor asks about the shell.
    EXPECT_EQ(rig.journal.Count("IsProcessRunning explorer.exe"), 0);
}

TEST(Watchdog, PlayOnceWithoutATickEndsAfterTheLastRow) {
    ZORVAK_NEEDS_DISPLAY();
    PlayingRig rig(false);
    Client& c = rig.Start();
    ControlWindow& w = c.Window();
    rig.Child<QPushButton>("btnPlayOnce")->click();
    EXPECT_EQ(Shown(*rig.presenters),
              (std::vector<std::string>{"img1.jpg", "img2.jpg", "img3.jpg"}));
    EXPECT_TRUE(c.Flags().PlayActive);
    EXPECT_FALSE(w.MinimizedToTray());
}

TEST(Close, TheCloseBoxMinimisesToTheTrayAndTheClientKeepsRunning) {
    ZORVAK_NEEDS_DISPLAY();
    PlayingRig rig(false);
    Client& c = rig.Start();
    ControlWindow& w = c.Window();
    c.ShowMainWindow();
    ServeUntil([&] { return w.isVisible(); });
    EXPECT_FALSE(w.close());
    ServeEvents(20);
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(w.MinimizedToTray());
    EXPECT_TRUE(c.TrayIcon().isVisible());
    EXPECT_TRUE(c.RefreshTimer().IsActive());
    EXPECT_TRUE(c.WatchdogTimer().IsActive());
    EXPECT_TRUE(c.RestartTimer().IsActive());
    EXPECT_EQ(rig.terminations, 0);
    EXPECT_FALSE(c.TerminateRequested());
}

// On a desktop with no tray there would be no way back from the tray: the
// window is minimised normally and keeps its taskbar entry, whether the close
// box or loop play minimises it.
TEST(Close, WithoutATrayTheWindowIsMinimisedAndKeepsItsTaskbarEntry) {
    ZORVAK_NEEDS_DISPLAY();
    PlayingRig rig(false);
    rig.trayAvailable = false;
    Client& c = rig.Start();
    ControlWindow& w = c.Window();
    c.ShowMainWindow();
    ASSERT_TRUE(ServeUntil([&] { return w.isVisible(); }));
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(ServeUntil([&] { return w.isMinimized(); }));
    ServeEvents(20);
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.MinimizedToTray());

    c.ShowMainWindow();
    ASSERT_TRUE(ServeUntil([&] { return !w.isMinimized(); }));
    rig.presenters->At(0, [&] {
        EXPECT_TRUE(w.isMinimized());
        EXPECT_TRUE(w.isVisible());
        rig.presenters->CloseAllPresenters();
        c.Flags().KeepPlaying = false;
    });
    rig.Child<QPushButton>("btnReplayPlayList")->click();
    EXPECT_EQ(rig.presenters->calls.size(), 1u);

    // With a tray again, minimising hides the window.
    rig.trayAvailable = true;
    c.ShowMainWindow();
    ASSERT_TRUE(ServeUntil([&] { return !w.isMinimized(); }));
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(ServeUntil([&] { return !w.isVisible(); }));
    EXPECT_TRUE(w.MinimizedToTray());
}

// The daily restart comes while a picture is on screen and the OS refuses the
// reboot (the recording power does nothing): the store comes back at once and
// the run goes on with its next row, instead of failing on a closed store.
TEST(DailyRestart, ARefusedRebootLeavesThePlayRunGoing) {
    ZORVAK_NEEDS_DISPLAY();
    PlayingRig rig(true);
    rig.WriteIni("[PLAYLIST]\nKEYWORD=a\nnoautorun=0\nFixTime=12:00:00\nFixTimeRestart=1\n");
    Client& c = rig.Create();
    rig.presenters->At(0, [&] {
        // The restart second: the restart check's tick is served by this
        // item's own loop and closes it.
        c.RestartTimer().PostTick();
    });
    rig.presenters->At(3, [&] { PressKey(rig.presenters->Open(), Qt::Key_Escape); });
    ASSERT_TRUE(c.Start());

    EXPECT_EQ(rig.journal.Count("PowerAction 1"), 1);
    EXPECT_EQ(Shown(*rig.presenters),
              (std::vector<std::string>{"img1.jpg", "img2.jpg", "img3.jpg", "img1.jpg"}));
    EXPECT_TRUE(rig.errors.empty()) << rig.errors.front();
    EXPECT_TRUE(c.Store().IsConnected());
    // The run ended normally (by Esc): the desktop is shown again.
    EXPECT_EQ(rig.journal.Count("Chrome show"), 1);
}

// The show-pointer button during a run, clicked between two items as the
// operator does (an item's window is modal): the taskbar and pointer show and
// the presenters' cover gives way to them; the run goes on with its next item.
TEST(ShowMouse, DuringARunTheCoverGivesWayToTheDesktop) {
    ZORVAK_NEEDS_DISPLAY();
    PlayingRig rig(true);
    Client& c = rig.Create();
    rig.presenters->At(0, [&] {
        // Served once the first item's window has gone, before the second's.
        QTimer::singleShot(0, qApp, [&] { rig.Child<QPushButton>("btnShowMouse")->click(); });
        rig.presenters->Open()->close();
    });
    rig.presenters->At(1, [&] { PressKey(rig.presenters->Open(), Qt::Key_Escape); });
    ASSERT_TRUE(c.Start());

    EXPECT_EQ(rig.presenters->runLog,
              (std::vector<std::string>{"BeginRun", "show img1.jpg", "GiveWayToDesktop",
                                        "show img2.jpg", "EndRun"}));
    // The button showed the desktop, and so did the end of the run.
    EXPECT_EQ(rig.journal.Count("Chrome hide"), 1);
    EXPECT_EQ(rig.journal.Count("Chrome show"), 2);
    EXPECT_TRUE(rig.errors.empty());
}

TEST(Quit, WithNothingPlayingShowsTheDesktopAndEndsTheProcess) {
    ZORVAK_NEEDS_DISPLAY();
    PlayingRig rig(false);
    Client& c = rig.Start();
    c.ShowMainWindow();
    rig.journal.events.clear();
    rig.Child<QToolButton>("sbQuit")->click();
    EXPECT_EQ(rig.journal.events, (std::vector<std::string>{"Chrome show", "CloseAllPresenters"}));
    EXPECT_EQ(rig.terminations, 1);
    EXPECT_TRUE(c.TerminateRequested());
    EXPECT_EQ(rig.journal.Count("KillExplorer"), 0);
}

TEST(Quit, DuringAStartUpRunEndsTheRunAndTheStart) {
    ZORVAK_NEEDS_DISPLAY();
    PlayingRig rig(true);
    Client& c = rig.Create();
    rig.presenters->At(1, [&] {
        // The tray menu's quit, while the second item is on screen.
        c.TrayMenu().findChild<QAction*>("X1")->trigger();
    });
    // The process would end here without entering the main loop.
    EXPECT_FALSE(c.Start());
    EXPECT_EQ(Shown(*rig.presenters), (std::vector<std::string>{"img1.jpg", "img2.jpg"}));
    EXPECT_TRUE(c.TerminateRequested());
    EXPECT_EQ(rig.terminations, 1);
    EXPECT_FALSE(c.Flags().KeepPlaying);
    EXPECT_FALSE(c.Flags().RepeatList);
    EXPECT_FALSE(c.Window().isVisible());
    // Quit showed the desktop, and so did the end of the run.
    EXPECT_EQ(rig.journal.Count("Chrome show"), 2);
}

TEST(Start, RunsTheStartUpRunThenShowsTheControlWindow) {
    ZORVAK_NEEDS_DISPLAY();
    PlayingRig rig(true);
    Client& c = rig.Create();
    bool hiddenDuringTheRun = false;
    rig.presenters->At(2, [&] {
        hiddenDuringTheRun = !c.Window().isVisible();
        rig.presenters->CloseAllPresenters();
        c.Flags().KeepPlaying = false;
    });
    EXPECT_TRUE(c.Start());
    EXPECT_EQ(Shown(*rig.presenters), (std::vector<std::string>{"img1.jpg", "img2.jpg", "img3.jpg"}));
    EXPECT_TRUE(hiddenDuringTheRun);
    EXPECT_TRUE(ServeUntil([&] { return c.Window().isVisible(); }));
    EXPECT_FALSE(c.Window().MinimizedToTray());
    EXPECT_FALSE(c.TerminateRequested());
}

}  // namespace
}  // namespace zorvak::test
