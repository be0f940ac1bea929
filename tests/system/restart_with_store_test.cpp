// The handlers with their real neighbours: the settings file and the playlist
// store in a temporary folder. Only the power action and the presenters are
// stand-ins.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/settings.h"
#include "playlist/mkstore/store_schema.h"
#include "playlist/store.h"
#include "system/auto_run_control.h"
#include "system/restart_control.h"
#include "tests/support/playlist_items.h"
#include "tests/support/temp_folder.h"

namespace zorvak {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;

class ScriptedPower final : public Power {
public:
    void PowerAction(PowerMode mode) override {
        modes.push_back(mode);
        if (onCall) onCall();
    }
    std::vector<PowerMode> modes;
    std::function<void()> onCall;
};

class RestartWithStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CreateEmptyStore(dir.Path() + PlaylistStore::kFileName), "");
        store.ConnectDatabase();
        ASSERT_TRUE(store.IsConnected());
        store.PlayList().Open();
        clock.Set({2024, 5, 6, 3, 0, 0});
    }

    RestartControl Make() {
        return RestartControl({
            .restartOn = [] { return true; },
            .restartTime = [] { return TimeOfDay{3, 0, 0}; },
            .clock = clock,
            .write = WriterOf(settings),
            .database = DatabaseOf(store),
            .closeAllPresenters = [this] { ++presenterCloses; },
            .pump = pump,
            .power = power,
        });
    }

    TempFolder folder;
    FixedAppDirectory dir{folder.Path()};
    Settings settings{dir};
    SettableClock clock;
    PlaylistStore store{dir, clock};
    NullEventPump pump;
    ScriptedPower power;
    int presenterCloses = 0;
};

TEST_F(RestartWithStoreTest, ClosesTheStoreThenAsksForTheReboot) {
    bool connectedAtReboot = true;
    power.onCall = [&] { connectedAtReboot = store.IsConnected(); };
    RestartControl control = Make();
    control.Tick();
    EXPECT_EQ(power.modes, std::vector<PowerMode>{PowerMode::kReboot});
    EXPECT_FALSE(connectedAtReboot);
    EXPECT_EQ(presenterCloses, 1);
    // The process is still here (the reboot was refused without a word): the
    // store and the selection come back, so the run on screen goes on.
    EXPECT_TRUE(store.IsConnected());
    EXPECT_TRUE(store.PlayList().IsOpen());

    // A second tick in the same second closes and asks again.
    connectedAtReboot = true;
    control.Tick();
    EXPECT_EQ(power.modes, (std::vector<PowerMode>{PowerMode::kReboot, PowerMode::kReboot}));
    EXPECT_FALSE(connectedAtReboot);
    EXPECT_TRUE(store.IsConnected());
}

TEST_F(RestartWithStoreTest, RefusedRebootReopensStoreAndSelection) {
    power.onCall = [] { throw std::runtime_error("refused"); };
    Make().Tick();
    EXPECT_TRUE(store.IsConnected());
    EXPECT_TRUE(store.PlayList().IsOpen());
}

// A run is on the third row when the reboot is refused: the selection made
// afresh has its cursor on that row again, so the run goes on from the next.
TEST_F(RestartWithStoreTest, TheReopenedSelectionIsOnTheRowTheRunWasOn) {
    std::string items;
    for (int i = 1; i <= 4; ++i)
        items += test::PlaylistItem{.order_sx = i}.Xml();
    ASSERT_TRUE(store.ImportPlaylist(test::Document(items)));
    for (bool refusedByThrowing : {true, false}) {
        SCOPED_TRACE(refusedByThrowing ? "power call throws" : "power call returns");
        ValidNowQuery& list = store.PlayList();
        list.Close();
        list.Open();
        list.First();
        list.Next();
        list.Next();
        ASSERT_EQ(list.FieldInteger("order_sx"), 3);
        const int third = list.FieldInteger("ID");
        power.onCall = [refusedByThrowing] {
            if (refusedByThrowing) throw std::runtime_error("refused");
        };
        Make().Tick();
        ASSERT_TRUE(list.IsOpen());
        EXPECT_EQ(list.RecordCount(), 4);
        EXPECT_EQ(list.FieldInteger("ID"), third);
        list.Next();
        EXPECT_EQ(list.FieldInteger("order_sx"), 4);
    }
}

TEST_F(RestartWithStoreTest, FailedRecoveryLeavesTheHandler) {
    // The store file goes away while the reboot is asked for; the reboot is
    // refused, the store cannot be reopened, and opening the selection fails.
    power.onCall = [this] {
        fs::remove(dir.Path() + PlaylistStore::kFileName);
        throw std::runtime_error("refused");
    };
    RestartControl control = Make();
    EXPECT_THROW(control.Tick(), StoreError);
    EXPECT_FALSE(store.IsConnected());
}

TEST_F(RestartWithStoreTest, SettingsFileSeesSwitchBeforeTime) {
    std::vector<std::pair<std::string, std::string>> seen;  // FixTimeRestart, FixTime
    SettingWriter write = WriterOf(settings);
    SettingReader read = ReaderOf(settings);
    auto observe = [&](const std::string& key, const std::string& value) {
        write(key, value);
        seen.emplace_back(read("FixTimeRestart"), read("FixTime"));
    };
    bool ticked = true;
    TimeOfDay picker{4, 30, 0};
    RestartControl control({
        .restartOn = [&] { return ticked; },
        .restartTime = [&] { return picker; },
        .clock = clock,
        .write = observe,
        .database = DatabaseOf(store),
        .closeAllPresenters = [] {},
        .pump = pump,
        .power = power,
    });

    // A fresh file: start-up's defaults.
    EXPECT_EQ(ReadRestartTime(read), (TimeOfDay{3, 0, 0}));
    EXPECT_FALSE(ReadRestartOn(read));
    EXPECT_TRUE(ReadAutoPlayOn(read));

    control.StoreRestartSwitch();
    using S = std::pair<std::string, std::string>;
    EXPECT_EQ(seen, (std::vector<S>{{"1", "0"}, {"1", "4:30:00"}}));

    seen.clear();
    ticked = false;
    picker = {22, 15, 5};
    control.StoreRestartTime();
    EXPECT_EQ(seen, (std::vector<S>{{"1", "22:15:05"}}));

    // What start-up loads at the next start.
    EXPECT_EQ(ReadRestartTime(read), (TimeOfDay{22, 15, 5}));
    EXPECT_TRUE(ReadRestartOn(read));

    class NoAutoRun final : public AutoRun {
        void RegisterAutoRun() override {}
    } autoRun;
    AutoRunControl autoPlay(autoRun, write, [] { return false; });
    autoPlay.StoreAutoPlay();
    EXPECT_EQ(read("noautorun"), "1");
    EXPECT_FALSE(ReadAutoPlayOn(read));
    EXPECT_TRUE(power.modes.empty());
}

}  // namespace
}  // namespace zorvak
