#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "core/event_pump.h"
#include "core/play_flags.h"
#include "core/settings.h"
#include "playback/presenters.h"
#include "platform/platform.h"
#include "platform/time_format.h"

// The application controller: the start-up sequence, the Esc key, the
// stop/start toggle, the watchdog, the close request and quit. It needs no
// display: the operator-facing state, the timers, the store and the play
// actions reach it through the small interfaces below, so tests drive it with
// recording fakes and the client drives it with its model (ClientModel).
namespace zorvak {

// The operator-facing state as the controller sees it (the client's model,
// ClientModel, is the real one). The setters behave as the model's actions:
// StoreKeyword stores the keyword when it changes; StoreRestartSwitch and
// StoreAutoPlay store their switch when it changes (setting the state it
// already has stores nothing); SetRestartTime stores nothing. Each change is
// shown by the control window.
class OperatorState {
public:
    virtual ~OperatorState() = default;

    // Brings the page of play operations to the front.
    virtual void ShowPlayPage() = 0;
    virtual std::string Keyword() const = 0;
    virtual void StoreKeyword(const std::string& text) = 0;
    virtual void SetRestartTime(const TimeOfDay& time) = 0;
    virtual void StoreRestartSwitch(bool on) = 0;
    virtual bool AutoPlay() const = 0;
    virtual void StoreAutoPlay(bool on) = 0;
    // Stopped by the stop toggle: the toggle's next press starts again.
    virtual bool Stopped() const = 0;
    virtual void SetStopped(bool stopped) = 0;
    // Minimising hides the window and its taskbar entry (the tray icon stays);
    // restoring shows them again.
    virtual void MinimizeApplication() = 0;
    virtual void RestoreApplication() = 0;
};

// The caption of the stop toggle: texts::kStopCaption while playing may go
// on, texts::kStartCaption once stopped.
const char* StopToggleCaption(bool stopped);

// The client's three timers, as the start-up sequence switches them on. None
// is ever switched off.
class ControlTimers {
public:
    virtual ~ControlTimers() = default;
    // The watchdog (kWatchdogInterval).
    virtual void StartWatchdog() = 0;
    // The playlist refresh (kRefreshInterval).
    virtual void StartRefresh() = 0;
    // The restart check (kRestartCheckInterval; already running since the
    // client was built; starting it again changes nothing).
    virtual void StartRestartCheck() = 0;
};

// The database connection as the controller sees it.
class DatabaseConnection {
public:
    virtual ~DatabaseConnection() = default;
    virtual bool IsConnected() const = 0;
    // (Re)opens the connection; may throw.
    virtual void ConnectDatabase() = 0;
};

// The timers' intervals.
inline constexpr std::chrono::milliseconds kRefreshInterval = std::chrono::seconds(60);
inline constexpr std::chrono::milliseconds kWatchdogInterval = std::chrono::minutes(100);
inline constexpr std::chrono::milliseconds kRestartCheckInterval = std::chrono::seconds(1);

// The standard error box: the application title as caption, the error icon,
// an OK button and the message (already completed by StandardErrorText).
using ErrorBox = std::function<void(const std::string& message)>;

// The message of the standard error box: the error's message with "." added
// when its last character sorts after ".".
std::string StandardErrorText(const std::string& message);

struct ControllerParts {
    const Settings& settings;
    PlayFlags& flags;
    AutoRun& autoRun;
    DatabaseConnection& database;
    Presenters& presenters;
    DesktopChrome& chrome;
    EventPump& pump;
    OperatorState& state;
    ControlTimers& timers;
    // Loop play exactly as the loop-play action starts it; returns when the
    // run ends.
    std::function<void()> loopPlay;
    // The locale's text-to-time conversion of a stored restart time; throws
    // std::exception with the message "'%s' is not a valid time".
    std::function<TimeOfDay(const std::string& text)> textToTime;
    ErrorBox errorBox;
    // Asks the main loop to end when it next takes an event; the process ends.
    std::function<void()> terminate;
    // Put into KEYWORD when the stored keyword is "0".
    std::string defaultKeyword;
};

class AppController {
public:
    explicit AppController(ControllerParts parts);

    // The start-up sequence, in this order: register to start with the
    // session; bring the play page to the front; clear PlayActive; load the
    // stored keyword (the default keyword when it reads "0"); open the
    // database; clear KeepPlaying and RepeatList; start the watchdog and the
    // refresh timers; load the restart time and the restart switch; start the
    // restart check; load the auto-play choice; minimise when auto-play is on;
    // and with auto-play on, start loop play, which returns when that run ends.
    // An error ends the sequence at the failing step and is shown in the error
    // box; the steps done stay done.
    void Start();

    // The application-wide Esc key: pump, close presenters, pump, restore the
    // application, clear KeepPlaying and RepeatList; all in one guard that
    // swallows errors. The key is not consumed by the caller.
    void StopOnEscape();

    // The stop/start toggle: when not stopped it clears all three flags and
    // becomes stopped; when stopped it sets all three and is no longer
    // stopped. Neither closes a presenter nor starts a run.
    void ToggleStop();

    // Asked when anything requests the control window to close: always "no",
    // and the application is minimised.
    bool RefuseClose();

    // Quit: sets Quitting and clears KeepPlaying and RepeatList (so a run under
    // way ends after its item, nothing starts another and the process can
    // exit), shows the taskbar and pointer, closes presenters and asks the
    // application to terminate. Swallows errors.
    void Quit();

    // The watchdog: reopens a closed database (a failure ends the tick), starts
    // loop play when PlayActive is clear (its errors are swallowed), then sets
    // all three flags. Does nothing once quit has been asked for.
    void WatchdogTick();

    // The keyword changed: writes the untrimmed text to KEYWORD unless it is
    // blank.
    void StoreKeyword(const std::string& text);

    // Restores the application from the tray.
    void ShowWindow();

    // Runs handler; an error that escapes it is shown in the error box.
    void RunGuarded(const std::function<void()>& handler);

private:
    ControllerParts p_;
};

}  // namespace zorvak
