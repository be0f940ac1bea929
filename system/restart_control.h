#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/clock.h"
#include "core/event_pump.h"
#include "platform/platform.h"
#include "platform/time_format.h"
#include "system/setting_access.h"

namespace zorvak {

// The database operations the restart check needs.
struct RestartDatabase {
    std::function<void()> closeConnection;  // may throw
    std::function<void()> connectDatabase;
    std::function<bool()> isSelectionOpen;  // the valid-now selection
    std::function<void()> openSelection;    // may throw
    // The selection's current row (its ID; nullopt when there is none), and
    // the cursor back to the row with that ID in the selection made afresh.
    // Either may be null; may throw.
    std::function<std::optional<std::int64_t>()> currentRow = {};
    std::function<void(std::int64_t)> returnToRow = {};
};

// The same operations on the local playlist store (PlaylistStore, from
// playlist/store.h). A template, so that this library needs neither the store
// nor SQLite (it is built for Windows without them); the callers that hold a
// store include its header.
// The cursor goes back to the row of the same ID, or stays on the first row
// when the fresh selection no longer holds it.
template <typename Store>
RestartDatabase DatabaseOf(Store& store) {
    return {[&store] { store.CloseConnection(); },
            [&store] { store.ConnectDatabase(); },
            [&store] { return store.PlayList().IsOpen(); },
            [&store] { store.PlayList().Open(); },
            [&store]() -> std::optional<std::int64_t> {
                auto& list = store.PlayList();
                if (!list.IsOpen() || list.Eof()) return std::nullopt;
                return list.FieldInteger("ID");
            },
            [&store](std::int64_t id) {
                auto& list = store.PlayList();
                if (!list.IsOpen()) return;
                for (list.First(); !list.Eof(); list.Next())
                    if (list.FieldInteger("ID") == id) return;
                list.First();
            }};
}

// The daily restart: storing the operator's restart switch and restart time,
// and the once-a-second check that asks for a forced reboot at that time of
// day. Stateless: every tick decides afresh from the switch, the time and the
// clock, as the functions in Parts give them at that moment.
class RestartControl {
public:
    struct Parts {
        std::function<bool()> restartOn;         // the restart switch
        std::function<TimeOfDay()> restartTime;  // the time of day to restart at
        const Clock& clock;
        SettingWriter write;
        RestartDatabase database;
        std::function<void()> closeAllPresenters;
        EventPump& pump;
        Power& power;
        // Time-to-text conversion for storing and comparing; the locale's long
        // time format unless set.
        std::function<std::string(const TimeOfDay&)> format = FormatLongTime;
    };

    explicit RestartControl(Parts parts) : p_(std::move(parts)) {}

    // Stores the restart switch (changed by the operator or by start-up):
    // writes FixTimeRestart = "1" when on, "0" when off, then FixTime = the
    // restart time as text.
    void StoreRestartSwitch();

    // Stores the restart time after the operator changed it: writes FixTime =
    // the restart time as text, whether or not the restart is on.
    void StoreRestartTime();

    // The once-a-second restart check. Does nothing unless the switch is on
    // and the clock's time of day and the restart time give the same text.
    // Then closes the database connection; serves waiting events, closes the
    // open presenter and serves events again (errors of these three are
    // swallowed); and asks for a forced reboot. Afterwards, and also when
    // closing the connection or the power call raises, the connection is
    // reopened and the valid-now selection opened if it is not open, with its
    // cursor back on the row it was on before the close (found by ID), so
    // that a refused reboot leaves playback going from the row after the one
    // interrupted; an error of that reopening leaves this handler. (An
    // accepted reboot ends the process a moment later.)
    void Tick();

private:
    std::string RestartTimeText() const { return p_.format(p_.restartTime()); }

    Parts p_;
};

// The restart time when none is stored.
inline constexpr const char* kDefaultRestartTimeText = "3:00:00";

// The restart time stored in the settings, as start-up loads it: FixTime is
// read twice; when the second reading is exactly "0" the time is 3:00:00 (the
// text kDefaultRestartTimeText converted), else the first reading converted.
// Throws TimeFormatError when the text does not convert.
TimeOfDay ReadRestartTime(const SettingReader& read,
                          const std::function<TimeOfDay(const std::string&)>& parse = ParseLongTime);

// Whether the daily restart is on: FixTimeRestart reads exactly "1".
bool ReadRestartOn(const SettingReader& read);

}  // namespace zorvak
