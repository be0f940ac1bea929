#pragma once

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
// display: the control window, the store and the play actions reach it through
// the small interfaces below, so tests drive it with recording fakes and the
// client drives it with the real window.
namespace zorvak {

// The captions of the stop/start toggle.
inline constexpr const char* kStopCaption = "停止播放";
inline constexpr const char* kStartCaption = "开始播放";
// The settings section every caller uses.
inline constexpr const char* kPlaylistSection = "PLAYLIST";

// The control window as the controller sees it. The setters behave like the
// window's controls: SetKeywordText runs the edit's change handler when the
// text changes; SetRestartTicked and SetAutoRunTicked run the check box's
// click handler when the tick state changes (setting the state it already has
// runs nothing); SetRestartTime runs no handler.
class ControlWindow {
public:
    virtual ~ControlWindow() = default;

    // Brings the page "播放操作" to the front.
    virtual void ShowPlayPage() = 0;
    virtual std::string KeywordText() const = 0;
    virtual void SetKeywordText(const std::string& text) = 0;
    virtual void SetRestartTime(const TimeOfDay& time) = 0;
    virtual void SetRestartTicked(bool ticked) = 0;
    virtual bool AutoRunTicked() const = 0;
    virtual void SetAutoRunTicked(bool ticked) = 0;
    virtual std::string StopCaption() const = 0;
    virtual void SetStopCaption(const std::string& caption) = 0;
    virtual void StartWatchdogTimer() = 0;
    virtual void StartRefreshTimer() = 0;
    virtual void StartRestartTimer() = 0;
    // Minimising hides the window and its taskbar entry (the tray icon stays);
    // restoring shows them again.
    virtual void MinimizeApplication() = 0;
    virtual void RestoreApplication() = 0;
    // Asks the main loop to end when it next takes an event; the process ends.
    virtual void RequestTerminate() = 0;
};

// The database connection as the controller sees it.
class DatabaseConnection {
public:
    virtual ~DatabaseConnection() = default;
    virtual bool IsConnected() const = 0;
    // (Re)opens the connection; may throw.
    virtual void ConnectDatabase() = 0;
};

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
    ControlWindow& window;
    // Loop play exactly as the loop-play button starts it; returns when the
    // run ends.
    std::function<void()> loopPlay;
    // The locale's text-to-time conversion of a stored restart time; throws
    // std::exception with the message "'%s' is not a valid time".
    std::function<TimeOfDay(const std::string& text)> textToTime;
    ErrorBox errorBox;
    // Put into KEYWORD when the stored keyword is "0".
    std::string defaultKeyword;
};

class AppController {
public:
    explicit AppController(ControllerParts parts);

    // The start-up sequence, run by the window's creation. An error ends it at
    // the failing step and is shown in the error box; the steps done stay done.
    void FormCreate();

    // The application-wide Esc hook: pump, close presenters, pump, restore the
    // application, clear KeepPlaying and RepeatList; all in one guard that
    // swallows errors. The key is not consumed by the caller.
    void EscapePressed();

    // The stop/start toggle.
    void btnStopClick();

    // Asked when anything requests the control window to close: always "no",
    // and the application is minimised.
    bool FormCloseQuery();

    // Quit: clears KeepPlaying and RepeatList (so a run under way ends and the
    // process can exit), shows the taskbar and pointer, closes presenters and
    // asks the application to terminate. Swallows errors.
    void sbQuitClick();
    void X1Click() { sbQuitClick(); }

    // The watchdog tick.
    void timDogDoorTimer();

    // The keyword edit's change handler: writes the untrimmed text to KEYWORD
    // unless it is blank.
    void edPlayUrlChange(const std::string& text);

    // Tray menu "显示窗口(&S)": restores the application.
    void N1Click();

    // Runs handler; an error that escapes it is shown in the error box.
    void RunGuarded(const std::function<void()>& handler);

private:
    ControllerParts p_;
};

}  // namespace zorvak
