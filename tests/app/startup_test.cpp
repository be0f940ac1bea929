#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimeEdit>

#include "app/tick_timer.h"
#include "client_rig.h"

namespace zorvak::test {
namespace {

TEST(StartUp, FirstStartWithoutSettingsWritesTwoKeysTriesLoopPlayAndShowsTheWindow) {
    ZORVAK_NEEDS_DISPLAY();
    ClientRig rig;
    bool visibleAfterCreate = true;
    Client& c = rig.Start();
    ControlWindow& w = c.Window();
    visibleAfterCreate = w.isVisible();

    EXPECT_TRUE(rig.errors.empty());
    EXPECT_EQ(rig.Ini(), "[PLAYLIST]\nKEYWORD=demo.zorvak.cn\nnoautorun=0\n");
    EXPECT_EQ(rig.journal.Count("RegisterAutoRun"), 1);
    // Loop play was started: the button's flags are set and the run, finding
    // no rows, cleared PlayActive without touching the desktop.
    EXPECT_TRUE(c.Flags().KeepPlaying);
    EXPECT_TRUE(c.Flags().RepeatList);
    EXPECT_FALSE(c.Flags().PlayActive);
    EXPECT_EQ(rig.journal.Count("Chrome hide"), 0);
    EXPECT_TRUE(rig.presenters->calls.empty());
    // With auto-play on, start-up minimised the application to the tray.
    EXPECT_FALSE(visibleAfterCreate);
    EXPECT_TRUE(w.MinimizedToTray());

    EXPECT_TRUE(rig.Child<QCheckBox>("cbAutoRun")->isChecked());
    EXPECT_FALSE(rig.Child<QCheckBox>("cbRestartTime")->isChecked());
    EXPECT_EQ(rig.Child<QTimeEdit>("dtpRestartTime")->time(), QTime(3, 0, 0));
    EXPECT_EQ(rig.Child<QLineEdit>("edPlayUrl")->text(), "demo.zorvak.cn");
    EXPECT_TRUE(c.RefreshTimer().IsActive());
    EXPECT_EQ(c.RefreshTimer().Interval(), 60000);
    EXPECT_TRUE(c.WatchdogTimer().IsActive());
    EXPECT_EQ(c.WatchdogTimer().Interval(), 6000000);
    EXPECT_TRUE(c.RestartTimer().IsActive());
    EXPECT_EQ(c.RestartTimer().Interval(), 1000);
    EXPECT_TRUE(c.TrayIcon().isVisible());

    // Start-up complete: the control window is shown as the main window.
    c.ShowMainWindow();
    EXPECT_TRUE(ServeUntil([&] { return w.isVisible(); }));
    EXPECT_FALSE(w.MinimizedToTray());
}

TEST(StartUp, AutoPlayOffLeavesTheWindowAloneAndPlaysNothing) {
    ZORVAK_NEEDS_DISPLAY();
    ClientRig rig;
    rig.WriteIni("[PLAYLIST]\nKEYWORD=shop.example\nnoautorun=1\n");
    rig.ImportPlaylist(ClientPlaylist({PlaylistItem{}}));
    rig.CacheFile("a.jpg");
    Client& c = rig.Start();
    ControlWindow& w = c.Window();

    EXPECT_TRUE(rig.errors.empty());
    EXPECT_FALSE(w.MinimizedToTray());
    EXPECT_FALSE(rig.Child<QCheckBox>("cbAutoRun")->isChecked());
    EXPECT_EQ(rig.Child<QLineEdit>("edPlayUrl")->text(), "shop.example");
    EXPECT_FALSE(c.Flags().KeepPlaying || c.Flags().RepeatList || c.Flags().PlayActive);
    EXPECT_TRUE(rig.presenters->calls.empty());
    EXPECT_EQ(rig.Ini(), "[PLAYLIST]\nKEYWORD=shop.example\nnoautorun=1\n");
    c.ShowMainWindow();
    EXPECT_TRUE(ServeUntil([&] { return w.isVisible(); }));
}

TEST(StartUp, BadRestartTimeShowsTheErrorAndStopsAtThatStep) {
    ZORVAK_NEEDS_DISPLAY();
    ClientRig rig;
    rig.WriteIni("[PLAYLIST]\nKEYWORD=a\nFixTime=25:99\nFixTimeRestart=1\nnoautorun=0\n");
    rig.ImportPlaylist(ClientPlaylist({PlaylistItem{}}));
    rig.CacheFile("a.jpg");
    Client& c = rig.Start();
    ControlWindow& w = c.Window();

    ASSERT_EQ(rig.errors.size(), 1u);
    EXPECT_EQ(rig.errors[0], "'25:99' is not a valid time.");
    // What start-up did before loading the restart time stays done (timers,
    // store); nothing after it ran.
    EXPECT_TRUE(c.RefreshTimer().IsActive());
    EXPECT_TRUE(c.WatchdogTimer().IsActive());
    EXPECT_TRUE(c.RestartTimer().IsActive());
    EXPECT_TRUE(c.Store().IsConnected());
    EXPECT_FALSE(rig.Child<QCheckBox>("cbRestartTime")->isChecked());
    EXPECT_FALSE(rig.Child<QCheckBox>("cbAutoRun")->isChecked());
    EXPECT_EQ(rig.Child<QTimeEdit>("dtpRestartTime")->time(), QTime(3, 0, 0));
    EXPECT_TRUE(rig.presenters->calls.empty());
    EXPECT_FALSE(c.Flags().PlayActive);
    EXPECT_FALSE(w.MinimizedToTray());
    // Nothing was written back.
    EXPECT_EQ(rig.Ini(), "[PLAYLIST]\nKEYWORD=a\nFixTime=25:99\nFixTimeRestart=1\nnoautorun=0\n");
    c.ShowMainWindow();
    EXPECT_TRUE(ServeUntil([&] { return w.isVisible(); }));

    // The first watchdog tick starts loop play; Esc ends it.
    rig.presenters->At(0, [&] { PressKey(rig.presenters->Open(), Qt::Key_Escape); });
    c.WatchdogTimer().PostTick();
    ServeUntil([&] { return !c.WatchdogTimer().TickPending(); });
    EXPECT_EQ(rig.presenters->calls.size(), 1u);
    EXPECT_TRUE(c.Flags().PlayActive);
}

TEST(StartUp, StoredRestartSettingsTickTheBoxAndFillThePicker) {
    ZORVAK_NEEDS_DISPLAY();
    ClientRig rig;
    rig.WriteIni("[PLAYLIST]\nKEYWORD=a\nFixTime=4:05:06\nFixTimeRestart=1\nnoautorun=1\n");
    rig.Start();
    EXPECT_TRUE(rig.errors.empty());
    EXPECT_TRUE(rig.Child<QCheckBox>("cbRestartTime")->isChecked());
    EXPECT_EQ(rig.Child<QTimeEdit>("dtpRestartTime")->time(), QTime(4, 5, 6));
    // The tick ran the click handler, which wrote both keys back.
    EXPECT_EQ(rig.Ini(),
              "[PLAYLIST]\nKEYWORD=a\nFixTime=4:05:06\nFixTimeRestart=1\nnoautorun=1\n");
}

}  // namespace
}  // namespace zorvak::test
