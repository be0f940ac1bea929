#pragma once

// Recording fakes and a real store in a temporary folder for the play-loop
// tests, and the real controller for the handlers that steer a run from inside
// it (Esc, the stop button, the watchdog).

#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/controller.h"
#include "core/app_directory.h"
#include "core/clock.h"
#include "core/event_pump.h"
#include "core/log.h"
#include "core/play_flags.h"
#include "core/product_texts.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "platform/time_format.h"
#include "playback/play_loop.h"
#include "playback/presenters.h"
#include "playlist/media_download.h"
#include "playlist/mkstore/store_schema.h"
#include "playlist/store.h"
#include "tests/support/fake_monotonic_clock.h"
#include "tests/support/fakes.h"
#include "tests/support/files.h"
#include "tests/support/playlist_items.h"
#include "tests/support/temp_folder.h"

namespace zorvak::test {

// One presenter call as the loop made it.
struct ShowCall {
    std::string kind;  // "image", "video", "page"
    std::string location;
    int seconds = 0;
    int online = 0;
    bool fileExisted = false;  // for online 0: whether the file was there at the call
    // The pictures handed to PreparePicture since the call before, in order.
    std::vector<std::string> preparedBefore;

    bool operator==(const ShowCall& o) const {
        return kind == o.kind && location == o.location && seconds == o.seconds &&
               online == o.online;
    }
};

inline void PrintTo(const ShowCall& c, std::ostream* os) {
    *os << c.kind << "(" << c.location << ", " << c.seconds << ", " << c.online << ")";
}

// Records every call. An action scheduled for call n (0-based) runs while that
// item is "on screen", as a nested handler would inside the modal window.
class RecordingPresenters final : public Presenters {
public:
    void At(int call, std::function<void()> action) { actions_[call] = std::move(action); }
    // Runs inside every call, after the action for that call, as the time on
    // screen (a test moves its clocks or serves events there).
    std::function<void()> onEveryShow;
    void ThrowAt(int call) { throwAt_[call] = true; }
    // How call n says it ended (LastItemEnd); time up when not given.
    void EndAt(int call, ItemEnd end) { ends_[call] = std::move(end); }
    ItemEnd LastItemEnd() const override { return lastEnd_; }
    // As the real presenters do: a local file that is not there is not shown
    // (the call returns at once), unless EndAt says otherwise.
    bool notShownWithoutFile = false;

    void ShowImage(const std::string& l, int s, MediaSource o) override {
        Show("image", l, s, static_cast<int>(o));
    }
    void PlayVideo(const std::string& l, int s, MediaSource o) override {
        Show("video", l, s, static_cast<int>(o));
    }
    void ShowWebPage(const std::string& l, int s, MediaSource o) override {
        Show("page", l, s, static_cast<int>(o));
    }
    void CloseAllPresenters() override { ++closes; }
    void PreparePicture(const std::string& path) override {
        prepared.push_back(path);
        preparedSinceShow_.push_back(path);
    }
    // The cover of a run: how many runs have begun and ended, and how deep
    // the runs are nested now.
    void BeginRun() override { ++runsBegun; }
    void EndRun() override { ++runsEnded; }

    std::vector<ShowCall> calls;
    std::vector<std::string> prepared;  // every PreparePicture, in order
    int closes = 0;
    int runsBegun = 0;
    int runsEnded = 0;

private:
    void Show(const char* kind, const std::string& location, int seconds, int online) {
        int index = static_cast<int>(calls.size());
        calls.push_back({kind, location, seconds, online,
                         online == 0 && std::filesystem::exists(location),
                         std::move(preparedSinceShow_)});
        preparedSinceShow_.clear();
        auto end = ends_.find(index);
        lastEnd_ = end != ends_.end() ? end->second : ItemEnd{ItemEndCause::kTimeUp, {}};
        if (end == ends_.end() && notShownWithoutFile && online == 0 && !calls.back().fileExisted)
            lastEnd_ = {ItemEndCause::kNotShown, "no file"};
        auto it = actions_.find(index);
        if (it != actions_.end()) {
            auto action = std::move(it->second);
            actions_.erase(it);
            action();
        }
        if (onEveryShow) onEveryShow();
        if (throwAt_.count(index)) throw std::runtime_error("presenter failed");
    }

    std::map<int, std::function<void()>> actions_;
    std::map<int, bool> throwAt_;
    std::map<int, ItemEnd> ends_;
    ItemEnd lastEnd_;
    std::vector<std::string> preparedSinceShow_;
};

class RecordingChrome final : public DesktopChrome {
public:
    void SetDesktopChrome(bool show) override { calls.push_back(show); }
    std::vector<bool> calls;
};

class RecordingShell final : public ShellControl {
public:
    bool IsProcessRunning(const std::string& name) override {
        asked.push_back(name);
        return running;
    }
    void KillExplorer() override { ++kills; }
    bool running = false;
    std::vector<std::string> asked;
    int kills = 0;
};

// The operator-facing state as the controller sees it, with nothing on
// screen: the stop toggle's state and the restores are all there is.
class BareOperatorState final : public OperatorState {
public:
    void ShowPlayPage() override {}
    std::string Keyword() const override { return {}; }
    void StoreKeyword(const std::string&) override {}
    void SetRestartTime(const TimeOfDay&) override {}
    void StoreRestartSwitch(bool) override {}
    bool AutoPlay() const override { return false; }
    void StoreAutoPlay(bool) override {}
    bool Stopped() const override { return stopped; }
    void SetStopped(bool s) override { stopped = s; }
    void MinimizeApplication() override {}
    void RestoreApplication() override { ++restores; }

    bool stopped = false;
    int restores = 0;
};

class NoControlTimers final : public ControlTimers {
public:
    void StartWatchdog() override {}
    void StartRefresh() override {}
    void StartRestartCheck() override {}
};

class NoAutoRun final : public AutoRun {
public:
    void RegisterAutoRun() override {}
};

// The rig's store as the controller's database connection.
class LoopStoreConnection final : public DatabaseConnection {
public:
    explicit LoopStoreConnection(PlaylistStore& store) : store_(store) {}
    bool IsConnected() const override { return store_.IsConnected(); }
    void ConnectDatabase() override { store_.ConnectDatabase(); }

private:
    PlaylistStore& store_;
};

// Keeps every item the loop tells of.
class KeepingObserver final : public PlayObserver {
public:
    void ItemPlayed(const PlayedItem& item) noexcept override { items.push_back(item); }
    std::vector<PlayedItem> items;
};

// Keeps every log line at info and above while it lives.
class KeepingLog final : public LogSink {
public:
    KeepingLog() { SetLogSink(this); }
    ~KeepingLog() override { SetLogSink(nullptr); }
    bool IsEnabled(LogCategory, LogLevel level) const override { return level != LogLevel::kDebug; }
    void Write(LogCategory, LogLevel level, std::string_view message) override {
        if (level != LogLevel::kDebug) lines.emplace_back(message);
    }
    // The lines holding text.
    int Count(const std::string& text) const {
        int n = 0;
        for (const std::string& line : lines) n += line.find(text) != std::string::npos;
        return n;
    }
    std::vector<std::string> lines;
};

// The play loop over a real store file in a temporary application folder,
// with recording fakes for everything else.
struct LoopRig {
    TempFolder folder;
    FixedAppDirectory dir{folder.Path()};
    SettableClock clock{{2024, 6, 1, 12, 0, 0}};
    PlaylistStore store{dir, clock};
    PlayFlags flags;
    RecordingPresenters presenters;
    RecordingChrome chrome;
    RecordingShell shell;
    SwitchConnectivity connectivity;
    ScriptedPump pump;
    // The loop's waits pass on this clock: each wait moves it by its limit.
    FakeMonotonicClock monotonic;
    Settings settings{dir};
    int minimised = 0;
    std::vector<std::pair<std::string, std::string>> downloads;
    // What a download does; by default it writes the cache file and says true.
    std::function<bool(const std::string&, const std::string&)> download =
        [this](const std::string& name, const std::string&) {
            WriteFile(CachePath(name), "data");
            return true;
        };
    std::unique_ptr<PlayLoop> loop;

    // The controller over the same flags, store and presenters. It has a pump
    // of its own, so that the loop's pumps are what pump counts.
    BareOperatorState state;
    NoControlTimers timers;
    NoAutoRun autoRun;
    LoopStoreConnection database{store};
    ScriptedPump controllerPump;
    std::vector<std::string> errors;
    AppController controller{ControllerParts{
        settings, flags, autoRun, database, presenters, chrome, controllerPump, state, timers,
        [this] { loop->PlayInLoop(); }, ParseLongTime,
        [this](const std::string& message) { errors.push_back(message); }, [] {},
        "demo.zorvak.cn"}};

    LoopRig() {
        std::string error = CreateEmptyStore(dir.Path() + PlaylistStore::kFileName);
        EXPECT_EQ(error, "");
        store.ConnectDatabase();
        EXPECT_TRUE(store.IsConnected());
        pump.onWait = [this](std::chrono::milliseconds limit) { monotonic.Advance(limit); };
        MakeLoop(nullptr);
    }

    // The loop again, telling observer of every item.
    void MakeLoop(PlayObserver* observer) {
        loop = std::make_unique<PlayLoop>(PlayLoop::Deps{
            flags, store, presenters, chrome, shell, connectivity, pump, settings, dir,
            [this](const std::string& name, const std::string& url) {
                downloads.emplace_back(name, url);
                return download(name, url);
            },
            [this] { ++minimised; }, observer, &monotonic});
    }

    void Exec(const std::string& sql) {
        char* error = nullptr;
        int rc = sqlite3_exec(store.handle(), sql.c_str(), nullptr, nullptr, &error);
        EXPECT_EQ(rc, SQLITE_OK) << (error ? error : "") << " in " << sql;
        sqlite3_free(error);
    }

    // A row straight into t_b_data: its unset fields take the play-loop
    // tests' values below, all other columns stay NULL.
    void Insert(PlaylistItem row) {
        row.Fill({.order_sx = 0,
                  .f_lx = "10",
                  .listurl = "http://127.0.0.1:9/x",
                  .f_filename = "a.jpg",
                  .online_play = 0,
                  .play_time = 10,
                  .f_startdate = "2024-01-01 00:00:00",
                  .f_enddate = "2024-12-31 23:59:59"});
        Exec(row.InsertSql());
    }

    // Where the media cache keeps a file: data/ in the application folder
    // (spelt out here, not asked of the code under test).
    std::string CachePath(const std::string& name) const { return folder.Path() + "data/" + name; }
    // A file in the media cache.
    std::string Cache(const std::string& name) {
        WriteFile(CachePath(name), "picture");
        return CachePath(name);
    }

    // The operator's Esc, the stop button and a watchdog tick, each through
    // the controller's own handler.
    void Esc() { controller.StopOnEscape(); }
    void PressStop() { controller.ToggleStop(); }
    void WatchdogTick() { controller.WatchdogTick(); }
};

}  // namespace zorvak::test
