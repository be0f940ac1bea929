#include "app/controller.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/product_texts.h"
#include "system/auto_run_control.h"
#include "system/restart_control.h"
#include "system/setting_access.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"

namespace zorvak {
namespace {

namespace fs = std::filesystem;

// Everything the fakes see, in order.
struct Journal {
    std::vector<std::string> events;
    void Add(const std::string& e) { events.push_back(e); }
    bool Has(const std::string& e) const {
        for (const auto& x : events)
            if (x == e) return true;
        return false;
    }
    int IndexOf(const std::string& e) const {
        for (size_t i = 0; i < events.size(); ++i)
            if (events[i] == e) return static_cast<int>(i);
        return -1;
    }
};

// Behaves as the client's model does: a change of the keyword, of the restart
// switch or of the auto-play choice stores it; setting the restart time does
// not.
class FakeState final : public OperatorState {
public:
    explicit FakeState(Journal& j) : j_(j) {}
    std::function<void(const std::string&)> onKeywordChange;
    std::function<void()> onRestartSwitchChange;
    std::function<void()> onAutoPlayChange;

    std::string keyword = "demo.zorvak.cn";
    bool restartOn = false;
    bool autoPlay = false;
    TimeOfDay restartTime{};
    bool stopped = false;
    bool minimized = false;

    void ShowPlayPage() override { j_.Add("ShowPlayPage"); }
    std::string Keyword() const override { return keyword; }
    void StoreKeyword(const std::string& text) override {
        if (text == keyword) return;
        keyword = text;
        j_.Add("StoreKeyword:" + text);
        if (onKeywordChange) onKeywordChange(text);
    }
    void SetRestartTime(const TimeOfDay& t) override {
        restartTime = t;
        j_.Add("SetRestartTime");
    }
    void StoreRestartSwitch(bool on) override {
        if (on == restartOn) return;
        restartOn = on;
        j_.Add("StoreRestartSwitch");
        if (onRestartSwitchChange) onRestartSwitchChange();
    }
    bool AutoPlay() const override { return autoPlay; }
    void StoreAutoPlay(bool on) override {
        if (on == autoPlay) return;
        autoPlay = on;
        j_.Add("StoreAutoPlay");
        if (onAutoPlayChange) onAutoPlayChange();
    }
    bool Stopped() const override { return stopped; }
    void SetStopped(bool s) override { stopped = s; }
    // The stop toggle's caption as the control window shows it.
    std::string StopCaption() const { return StopToggleCaption(stopped); }
    void MinimizeApplication() override {
        minimized = true;
        j_.Add("Minimize");
    }
    void RestoreApplication() override {
        minimized = false;
        j_.Add("Restore");
    }

private:
    Journal& j_;
};

class FakeDatabase final : public DatabaseConnection {
public:
    explicit FakeDatabase(Journal& j) : j_(j) {}
    bool connected = false;
    bool throwOnConnect = false;
    bool IsConnected() const override { return connected; }
    void ConnectDatabase() override {
        j_.Add("ConnectDatabase");
        if (throwOnConnect) throw std::runtime_error("cannot open");
        connected = true;
    }

private:
    Journal& j_;
};

class Recorder final : public AutoRun,
                       public DesktopChrome,
                       public EventPump,
                       public Presenters,
                       public ControlTimers,
                       public Power {
public:
    explicit Recorder(Journal& j) : j_(j) {}
    void RegisterAutoRun() override { j_.Add("RegisterAutoRun"); }
    void SetDesktopChrome(bool show) override { j_.Add(show ? "Chrome show" : "Chrome hide"); }
    void Pump() override { j_.Add("Pump"); }
    void ShowImage(const std::string&, int, MediaSource) override {}
    void PlayVideo(const std::string&, int, MediaSource) override {}
    void ShowWebPage(const std::string&, int, MediaSource) override {}
    void CloseAllPresenters() override { j_.Add("CloseAllPresenters"); }
    void StartWatchdog() override { j_.Add("timDogDoor on"); }
    void StartRefresh() override { j_.Add("timGetPlayList on"); }
    void StartRestartCheck() override { j_.Add("timAutoRestart on"); }
    void PowerAction(PowerMode) override { j_.Add("PowerAction"); }

private:
    Journal& j_;
};

struct Rig {
    test::TempFolder dir;
    FixedAppDirectory appDir{dir.Path()};
    Settings settings{appDir};
    PlayFlags flags;
    Journal j;
    FakeState state{j};
    FakeDatabase db{j};
    Recorder rec{j};
    std::vector<std::string> errors;
    int loopPlays = 0;
    PlayFlags flagsAtLoopPlay;
    std::function<void()> duringLoopPlay;
    SettableClock clock;
    AppController controller{ControllerParts{
        settings, flags, rec, db, rec, rec, rec, state, rec,
        [this] {
            ++loopPlays;
            j.Add("loopPlay");
            flagsAtLoopPlay = flags;
            if (duringLoopPlay) duringLoopPlay();
        },
        ParseLongTime, [this](const std::string& m) { errors.push_back(m); },
        [this] { j.Add("Terminate"); }, "demo.zorvak.cn"}};
    // The real logic behind the model's switches.
    AutoRunControl autoRunControl{rec, WriterOf(settings), [this] { return state.autoPlay; }};
    RestartControl restartControl{RestartControl::Parts{
        [this] { return state.restartOn; }, [this] { return state.restartTime; }, clock,
        WriterOf(settings), RestartDatabase{}, [] {}, rec, rec}};

    // The settings file, line ends as LF whatever the writer uses.
    std::string Ini() const {
        std::string text = test::ReadFile(dir.File("dIrovede.ini")).value_or("");
        std::erase(text, '\r');
        return text;
    }
    void WriteIni(const std::string& text) const { test::WriteFile(dir.File("dIrovede.ini"), text); }

    Rig() {
        state.onKeywordChange = [this](const std::string& t) { controller.StoreKeyword(t); };
        state.onAutoPlayChange = [this] { autoRunControl.StoreAutoPlay(); };
        state.onRestartSwitchChange = [this] { restartControl.StoreRestartSwitch(); };
    }
};

TEST(StartUp, FirstStartWritesKeywordThenNoAutoRunAndStartsLoopPlay) {
    Rig r;
    r.flags = {true, true, true};
    r.duringLoopPlay = [&] { r.j.Add(r.state.minimized ? "minimized during run" : "shown"); };
    r.controller.Start();

    EXPECT_TRUE(r.errors.empty());
    EXPECT_EQ(r.Ini(), "[PLAYLIST]\nKEYWORD=demo.zorvak.cn\nnoautorun=0\n");
    std::vector<std::string> expected = {
        "RegisterAutoRun",   "ShowPlayPage",      "StoreKeyword:0",
        "StoreKeyword:demo.zorvak.cn",           "ConnectDatabase",
        "timDogDoor on",     "timGetPlayList on", "SetRestartTime",
        "timAutoRestart on", "StoreAutoPlay",     "Minimize",
        "loopPlay",          "minimized during run"};
    EXPECT_EQ(r.j.events, expected);
    EXPECT_EQ(r.state.restartTime, (TimeOfDay{3, 0, 0}));
    EXPECT_FALSE(r.state.restartOn);
    EXPECT_TRUE(r.state.autoPlay);
    // Start-up cleared every flag before the run was started.
    EXPECT_FALSE(r.flagsAtLoopPlay.PlayActive);
    EXPECT_FALSE(r.flagsAtLoopPlay.KeepPlaying);
    EXPECT_FALSE(r.flagsAtLoopPlay.RepeatList);
}

TEST(StartUp, StoredSettingsDecideTheControlsAndAutoPlay) {
    struct Case {
        const char* name;
        const char* ini;
        const char* keyword;
        TimeOfDay time;
        bool restartTicked;
        bool autoRun;
        int loopPlays;
    };
    const Case cases[] = {
        {"auto-play off", "[PLAYLIST]\nKEYWORD=shop.example\nnoautorun=1\n", "shop.example",
         {3, 0, 0}, false, false, 0},
        {"noautorun yes is off", "[PLAYLIST]\nKEYWORD=a\nnoautorun=yes\n", "a", {3, 0, 0}, false,
         false, 0},
        {"restart on at its time",
         "[PLAYLIST]\nKEYWORD=a\nFixTime=4:05:06\nFixTimeRestart=1\nnoautorun=1\n", "a",
         {4, 5, 6}, true, false, 0},
        {"FixTimeRestart true is off", "[PLAYLIST]\nKEYWORD=a\nFixTimeRestart=true\n", "a",
         {3, 0, 0}, false, true, 1},
        {"FixTime 0 reads 3:00:00", "[PLAYLIST]\nKEYWORD=a\nFixTime=0\nnoautorun=0\n", "a",
         {3, 0, 0}, false, true, 1},
        {"keyword 0 with blanks", "[PLAYLIST]\nKEYWORD=\" 0 \"\nnoautorun=1\n",
         "demo.zorvak.cn", {3, 0, 0}, false, false, 0},
        {"empty keyword stays empty", "[PLAYLIST]\nKEYWORD=\nnoautorun=1\n", "", {3, 0, 0},
         false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.WriteIni(c.ini);
        r.controller.Start();
        EXPECT_TRUE(r.errors.empty());
        EXPECT_EQ(r.state.keyword, c.keyword);
        EXPECT_EQ(r.state.restartTime, c.time);
        EXPECT_EQ(r.state.restartOn, c.restartTicked);
        EXPECT_EQ(r.state.autoPlay, c.autoRun);
        EXPECT_EQ(r.state.minimized, c.autoRun);
        EXPECT_EQ(r.loopPlays, c.loopPlays);
        EXPECT_TRUE(r.j.Has("timAutoRestart on"));
    }
}

TEST(StartUp, EmptyKeywordWritesNothingBack) {
    Rig r;
    r.WriteIni("[PLAYLIST]\nKEYWORD=\nnoautorun=1\n");
    r.controller.Start();
    EXPECT_EQ(r.Ini(), "[PLAYLIST]\nKEYWORD=\nnoautorun=1\n");
}

TEST(StartUp, BadRestartTimeEndsTheSequenceAndShowsTheError) {
    Rig r;
    r.WriteIni("[PLAYLIST]\nKEYWORD=a\nFixTime=25:99\nFixTimeRestart=1\nnoautorun=0\n");
    r.controller.Start();
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0], "'25:99' is not a valid time.");
    // Everything before loading the restart time is done, nothing after it.
    EXPECT_TRUE(r.j.Has("timDogDoor on"));
    EXPECT_TRUE(r.j.Has("timGetPlayList on"));
    EXPECT_TRUE(r.db.connected);
    EXPECT_FALSE(r.j.Has("SetRestartTime"));
    EXPECT_FALSE(r.state.restartOn);
    EXPECT_FALSE(r.j.Has("timAutoRestart on"));
    EXPECT_FALSE(r.state.autoPlay);
    EXPECT_FALSE(r.state.minimized);
    EXPECT_EQ(r.loopPlays, 0);
}

TEST(StandardErrorText, AddsAFullStopAfterCharactersThatSortAfterIt) {
    const std::pair<std::string, std::string> cases[] = {
        {"x", "x."},   {"done.", "done."}, {"what?", "what?."}, {"a-", "a-"},
        {"a ", "a "},  {"", ""},           {"1", "1."},         {"错误", "错误."},
        {"a,", "a,"}};
    for (const auto& [in, out] : cases) EXPECT_EQ(StandardErrorText(in), out) << in;
}

TEST(Escape, ClosesPresentersRestoresAndClearsTwoFlags) {
    Rig r;
    r.flags = {true, true, true};
    r.state.minimized = true;
    r.controller.StopOnEscape();
    std::vector<std::string> expected = {"Pump", "CloseAllPresenters", "Pump", "Restore"};
    EXPECT_EQ(r.j.events, expected);
    EXPECT_FALSE(r.flags.KeepPlaying);
    EXPECT_FALSE(r.flags.RepeatList);
    EXPECT_TRUE(r.flags.PlayActive);
    EXPECT_FALSE(r.state.minimized);
}

TEST(StopToggle, AlternatesFlagsAndCaption) {
    Rig r;
    r.flags = {true, true, true};
    r.controller.ToggleStop();
    EXPECT_TRUE(r.state.stopped);
    EXPECT_EQ(r.state.StopCaption(), texts::kStartCaption);
    EXPECT_FALSE(r.flags.KeepPlaying || r.flags.RepeatList || r.flags.PlayActive);
    r.controller.ToggleStop();
    EXPECT_FALSE(r.state.stopped);
    EXPECT_EQ(r.state.StopCaption(), texts::kStopCaption);
    EXPECT_TRUE(r.flags.KeepPlaying && r.flags.RepeatList && r.flags.PlayActive);
    // The stopped state decides, not the flags: stopped while the flags are
    // clear anyway (a run ended by Esc), the toggle starts again.
    r.state.stopped = true;
    r.flags = {};
    r.controller.ToggleStop();
    EXPECT_EQ(r.state.StopCaption(), texts::kStopCaption);
    EXPECT_TRUE(r.flags.KeepPlaying && r.flags.RepeatList && r.flags.PlayActive);
    // Not stopped while the flags are clear: the toggle stops.
    r.flags = {};
    r.controller.ToggleStop();
    EXPECT_TRUE(r.state.stopped);
    EXPECT_FALSE(r.flags.KeepPlaying || r.flags.RepeatList || r.flags.PlayActive);
}

TEST(Watchdog, StartsLoopPlayOnlyWhilePlayActiveIsClear) {
    struct Case {
        const char* name;
        bool connected;
        bool throwOnConnect;
        PlayFlags before;
        int loopPlays;
        bool flagsSet;
    };
    const Case cases[] = {
        {"nothing played yet", true, false, {false, false, false}, 1, true},
        {"run under way", true, false, {true, false, true}, 0, true},
        {"ended by Esc", true, false, {false, false, true}, 0, true},
        {"connection closed is reopened", false, false, {false, false, false}, 1, true},
        {"reopen fails: tick ends", false, true, {false, false, false}, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.db.connected = c.connected;
        r.db.throwOnConnect = c.throwOnConnect;
        r.flags = c.before;
        r.controller.WatchdogTick();
        EXPECT_EQ(r.loopPlays, c.loopPlays);
        if (c.loopPlays) {
            EXPECT_TRUE(r.flagsAtLoopPlay.PlayActive);
        }
        EXPECT_EQ(r.flags.KeepPlaying && r.flags.RepeatList && r.flags.PlayActive, c.flagsSet);
        EXPECT_EQ(r.j.Has("ConnectDatabase"), !c.connected);
        EXPECT_TRUE(r.errors.empty());
    }
}

TEST(Watchdog, SwallowsAnErrorOfTheRun) {
    Rig r;
    r.db.connected = true;
    r.duringLoopPlay = [] { throw std::runtime_error("boom"); };
    r.controller.WatchdogTick();
    EXPECT_TRUE(r.errors.empty());
    EXPECT_TRUE(r.flags.KeepPlaying && r.flags.RepeatList && r.flags.PlayActive);
}

TEST(CloseAndQuit, CloseMinimisesQuitShowsChromeClosesAndTerminates) {
    Rig r;
    EXPECT_FALSE(r.controller.RefuseClose());
    EXPECT_TRUE(r.state.minimized);
    r.j.events.clear();
    r.flags = {true, true, true};
    r.controller.Quit();
    std::vector<std::string> expected = {"Chrome show", "CloseAllPresenters", "Terminate"};
    EXPECT_EQ(r.j.events, expected);
    EXPECT_FALSE(r.flags.KeepPlaying);
    EXPECT_FALSE(r.flags.RepeatList);
    EXPECT_TRUE(r.flags.PlayActive);
}

TEST(KeywordEdit, WritesEveryNonBlankTextUntrimmed) {
    Rig r;
    r.controller.StoreKeyword("");
    r.controller.StoreKeyword(" \t ");
    EXPECT_FALSE(fs::exists(r.dir.path() / "dIrovede.ini"));
    r.controller.StoreKeyword(" shop ");
    EXPECT_EQ(r.settings.ReadSetting("PLAYLIST", "KEYWORD"), "shop");  // reader trims
    EXPECT_NE(r.Ini().find("KEYWORD= shop \n"), std::string::npos) << r.Ini();
    r.controller.StoreKeyword("");
    EXPECT_NE(r.Ini().find("KEYWORD= shop \n"), std::string::npos);
}

TEST(Guard, AnErrorOfAHandlerGoesToTheErrorBox) {
    Rig r;
    r.controller.RunGuarded([] { throw std::runtime_error("Disk full"); });
    r.controller.RunGuarded([] {});
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0], "Disk full.");
}

}  // namespace
}  // namespace zorvak
