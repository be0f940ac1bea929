#include "system/restart_control.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace zorvak {
namespace {

// Records every outside action of the restart check in order; a name ending
// in "!" is an action that threw.
struct World {
    std::vector<std::string> events;
    std::vector<LocalDateTime> reboots;  // clock time of each reboot asked for
    std::vector<std::pair<std::string, std::string>> writes;
    bool ticked = true;
    TimeOfDay picker{3, 0, 0};
    bool selectionOpen = false;
    std::string failing;  // the action that throws, if any

    void Act(const std::string& name) {
        if (name == failing) {
            events.push_back(name + "!");
            throw std::runtime_error(name + " failed");
        }
        events.push_back(name);
    }
};

class RecordingPump final : public EventPump {
public:
    explicit RecordingPump(World& w) : w_(w) {}
    void Pump() override { w_.Act("pump"); }

private:
    World& w_;
};

class RecordingPower final : public Power {
public:
    RecordingPower(World& w, const Clock& clock) : w_(w), clock_(clock) {}
    void PowerAction(PowerMode mode) override {
        w_.Act("power" + std::to_string(static_cast<int>(mode)));
        if (mode == PowerMode::kReboot) w_.reboots.push_back(clock_.Now());
    }

private:
    World& w_;
    const Clock& clock_;
};

class RestartControlTest : public ::testing::Test {
protected:
    RestartControl Make(std::function<std::string(const TimeOfDay&)> format = FormatLongTime) {
        return RestartControl({
            .restartOn = [this] { return w.ticked; },
            .restartTime = [this] { return w.picker; },
            .clock = clock,
            .write = [this](const std::string& k, const std::string& v) { w.writes.emplace_back(k, v); },
            .database = {[this] { w.Act("close"); }, [this] { w.Act("connect"); },
                         [this] {
                             w.Act("isOpen");
                             return w.selectionOpen;
                         },
                         [this] { w.Act("open"); }},
            .closeAllPresenters = [this] { w.Act("closeAll"); },
            .pump = pump,
            .power = power,
            .format = std::move(format),
        });
    }

    // One tick a second for 24 hours, starting at the given time of day on
    // 2024-03-10.
    void TickADay(RestartControl& control, int startHour, int startMinute = 0) {
        int start = startHour * 3600 + startMinute * 60;
        for (int t = start; t < start + 86400; ++t) TickAt(control, 10 + t / 86400, t % 86400);
    }
    void TickAt(RestartControl& control, int day, int secondOfDay) {
        clock.Set({2024, 3, day, secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60});
        control.Tick();
    }

    World w;
    SettableClock clock;
    RecordingPump pump{w};
    RecordingPower power{w, clock};
};

// Close, serve, close the presenter, serve, ask for the reboot; and when the
// process is still there afterwards (the reboot refused), reopen the store and
// the selection so that playback goes on.
const std::vector<std::string> kRestartSequence = {"close", "pump",    "closeAll", "pump",
                                                   "power1", "connect", "isOpen",  "open"};

TEST_F(RestartControlTest, FiresOnceADayAtTheChosenSecond) {
    struct Case {
        TimeOfDay picker;
        int startHour;  // the day of ticks starts here
        LocalDateTime expected;
    };
    const Case cases[] = {
        {{3, 0, 0}, 0, {2024, 3, 10, 3, 0, 0}},
        {{0, 0, 0}, 0, {2024, 3, 10, 0, 0, 0}},
        {{23, 59, 59}, 0, {2024, 3, 10, 23, 59, 59}},
        {{12, 34, 56}, 0, {2024, 3, 10, 12, 34, 56}},
        // A restart time earlier than now: the next day.
        {{3, 0, 0}, 10, {2024, 3, 11, 3, 0, 0}},
        {{9, 59, 59}, 10, {2024, 3, 11, 9, 59, 59}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(FormatLongTime(c.picker) + " from " + std::to_string(c.startHour));
        w = World{};
        w.picker = c.picker;
        RestartControl control = Make();
        TickADay(control, c.startHour);
        ASSERT_EQ(w.reboots.size(), 1u);
        EXPECT_EQ(w.reboots[0], c.expected);
        EXPECT_EQ(w.events, kRestartSequence);
    }
}

TEST_F(RestartControlTest, UntickedNeverFires) {
    w.ticked = false;
    RestartControl control = Make();
    TickADay(control, 0);
    EXPECT_TRUE(w.events.empty());
    EXPECT_TRUE(w.writes.empty());
}

TEST_F(RestartControlTest, SkippedSecondPassesUnseen) {
    RestartControl control = Make();
    // The thread is busy through 3:00:00: ticks at 2:59:59 and 3:00:01 only.
    for (int t = 2 * 3600 + 59 * 60; t <= 3 * 3600 + 60; ++t)
        if (t != 3 * 3600) TickAt(control, 10, t);
    EXPECT_TRUE(w.events.empty());
}

TEST_F(RestartControlTest, TwoTicksInTheSecondRunTwice) {
    RestartControl control = Make();
    TickAt(control, 10, 3 * 3600);
    TickAt(control, 10, 3 * 3600);
    std::vector<std::string> twice = kRestartSequence;
    twice.insert(twice.end(), kRestartSequence.begin(), kRestartSequence.end());
    EXPECT_EQ(w.events, twice);
    EXPECT_EQ(w.reboots.size(), 2u);
}

TEST_F(RestartControlTest, ComparesAtTheResolutionOfTheFormat) {
    // A format without seconds: every tick of the minute fires.
    RestartControl minutes = Make([](const TimeOfDay& t) {
        return std::to_string(t.hour) + ":" + std::to_string(t.minute);
    });
    TickADay(minutes, 0);
    ASSERT_EQ(w.reboots.size(), 60u);
    EXPECT_EQ(w.reboots.front(), (LocalDateTime{2024, 3, 10, 3, 0, 0}));
    EXPECT_EQ(w.reboots.back(), (LocalDateTime{2024, 3, 10, 3, 0, 59}));

    // A 12-hour format: both texts carry the same marker.
    w = World{};
    w.picker = {15, 0, 0};
    RestartControl twelve = Make([](const TimeOfDay& t) {
        return std::to_string(t.hour % 12 == 0 ? 12 : t.hour % 12) + ":" +
               std::to_string(t.minute) + ":" + std::to_string(t.second) +
               (t.hour < 12 ? " AM" : " PM");
    });
    TickADay(twelve, 0);
    ASSERT_EQ(w.reboots.size(), 1u);
    EXPECT_EQ(w.reboots[0], (LocalDateTime{2024, 3, 10, 15, 0, 0}));
}

TEST_F(RestartControlTest, ErrorsAndRecovery) {
    struct Case {
        std::string failing;
        bool selectionOpen;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        // Closing fails: no reboot asked; connection and selection reopened.
        {"close", false, {"close!", "connect", "isOpen", "open"}},
        {"close", true, {"close!", "connect", "isOpen"}},
        // The power call raises: the same recovery after it.
        {"power1", false, {"close", "pump", "closeAll", "pump", "power1!", "connect", "isOpen", "open"}},
        // Serving events or closing the presenter fails: swallowed, the reboot
        // is still asked for.
        {"pump", false, {"close", "pump!", "power1", "connect", "isOpen", "open"}},
        {"closeAll", false, {"close", "pump", "closeAll!", "power1", "connect", "isOpen", "open"}},
        // Nothing fails: the reboot is asked for, and the store comes back.
        {"", false, kRestartSequence},
        {"", true, {"close", "pump", "closeAll", "pump", "power1", "connect", "isOpen"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("failing " + c.failing);
        w = World{};
        w.failing = c.failing;
        w.selectionOpen = c.selectionOpen;
        RestartControl control = Make();
        EXPECT_NO_THROW(TickAt(control, 10, 3 * 3600));
        EXPECT_EQ(w.events, c.events);
    }
}

TEST_F(RestartControlTest, RecoveryErrorLeavesTheHandler) {
    // Closing fails, then opening the selection fails as well.
    w.failing = "close";
    RestartControl failingOpen = RestartControl({
        .restartOn = [] { return true; },
        .restartTime = [] { return TimeOfDay{12, 0, 0}; },
        .clock = clock,
        .write = [](const std::string&, const std::string&) {},
        .database = {[this] { w.Act("close"); }, [this] { w.Act("connect"); },
                     [this] {
                         w.Act("isOpen");
                         return false;
                     },
                     [this] {
                         w.events.push_back("open!");
                         throw std::runtime_error("no connection");
                     }},
        .closeAllPresenters = [this] { w.Act("closeAll"); },
        .pump = pump,
        .power = power,
    });
    clock.Set({2024, 3, 10, 12, 0, 0});
    try {
        failingOpen.Tick();
        ADD_FAILURE() << "the recovery error did not leave the handler";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "no connection");
    }
    EXPECT_EQ(w.events, (std::vector<std::string>{"close!", "connect", "isOpen", "open!"}));
}

TEST_F(RestartControlTest, CheckBoxWritesSwitchThenTime) {
    RestartControl control = Make();
    w.picker = {4, 5, 6};
    w.ticked = true;
    control.StoreRestartSwitch();
    w.ticked = false;
    control.StoreRestartSwitch();
    using W = std::pair<std::string, std::string>;
    EXPECT_EQ(w.writes, (std::vector<W>{{"FixTimeRestart", "1"}, {"FixTime", "4:05:06"},
                                        {"FixTimeRestart", "0"}, {"FixTime", "4:05:06"}}));
    EXPECT_TRUE(w.events.empty());
}

TEST_F(RestartControlTest, PickerChangeWritesTimeWhetherOrNotOn) {
    RestartControl control = Make();
    w.ticked = false;
    w.picker = {23, 0, 0};
    control.StoreRestartTime();
    w.ticked = true;
    w.picker = {0, 0, 1};
    control.StoreRestartTime();
    using W = std::pair<std::string, std::string>;
    EXPECT_EQ(w.writes, (std::vector<W>{{"FixTime", "23:00:00"}, {"FixTime", "0:00:01"}}));
}

TEST(ReadRestartSettings, TimeAndSwitchAsStartUpLoadsThem) {
    struct Case {
        std::vector<std::string> readings;  // successive answers for FixTime
        TimeOfDay expected;
    };
    const Case cases[] = {
        {{"13:30:00", "13:30:00"}, {13, 30, 0}},
        {{"0", "0"}, {3, 0, 0}},  // missing key
        // Only the second reading decides whether the default is taken.
        {{"5:00:00", "0"}, {3, 0, 0}},
        {{"5:00:00", "6:00:00"}, {5, 0, 0}},
    };
    for (const Case& c : cases) {
        std::size_t n = 0;
        SettingReader read = [&](const std::string& key) {
            EXPECT_EQ(key, "FixTime");
            return c.readings.at(n++);
        };
        EXPECT_EQ(ReadRestartTime(read), c.expected) << c.readings[0];
        EXPECT_EQ(n, 2u);
    }

    SettingReader bad = [](const std::string&) { return std::string("25:61"); };
    try {
        ReadRestartTime(bad);
        ADD_FAILURE() << "no error for a bad time";
    } catch (const TimeFormatError& e) {
        EXPECT_STREQ(e.what(), "'25:61' is not a valid time");
    }

    const std::pair<std::string, bool> switches[] = {
        {"1", true}, {"0", false}, {"true", false}, {" 1", false}, {"", false}};
    for (const auto& [stored, on] : switches) {
        SettingReader read = [&](const std::string& key) {
            EXPECT_EQ(key, "FixTimeRestart");
            return stored;
        };
        EXPECT_EQ(ReadRestartOn(read), on) << stored;
    }
}

}  // namespace
}  // namespace zorvak
