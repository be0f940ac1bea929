#pragma once

#include <QObject>
#include <QString>
#include <QTime>

#include <optional>
#include <string>

#include "app/controller.h"

namespace zorvak {

class AutoRunControl;
class PlayLoop;
class PlaylistFetch;
class RestartControl;

// The client's model: the operator-facing state (the keyword, the last
// playlist answer, the restart switch and time, the auto-play choice, the
// stop toggle) and the actions an operator, a timer, the tray menu, the Esc
// key or the OS can start. The control window shows the state through the
// signals and turns the operator's clicks and edits into the actions; the
// client wires its timers, tray menu, termination requests, the session's end
// and the Esc hook straight to the actions. The logic (the controller, the
// play loop, the fetch, the auto-run and restart controls) reads the state
// from here, never from a widget.
//
// Every action runs inside the controller's guard (an escaping error is shown
// in the standard error box), except StartUp and StopOnEscape, which guard
// themselves. Until Connect() the actions change the state and announce it,
// and run no logic.
//
// The controller sees the model through OperatorState.
class ClientModel final : public QObject, public OperatorState {
    Q_OBJECT
public:
    // The restart time until start-up loads the stored one.
    static constexpr TimeOfDay kDefaultRestartTime{3, 0, 0};

    // The logic behind the actions; built by the client after the model,
    // since it reads the model's state.
    struct Logic {
        AppController& controller;
        PlayLoop& playLoop;
        PlaylistFetch& fetch;
        AutoRunControl& autoRun;
        RestartControl& restart;
        DesktopChrome& chrome;
        Presenters& presenters;
    };

    // defaultKeyword: the keyword until start-up loads the stored one.
    explicit ClientModel(std::string defaultKeyword, QObject* parent = nullptr);
    ~ClientModel() override;

    void Connect(Logic logic);

    // ---- state -------------------------------------------------------------
    std::string Keyword() const override { return keyword_; }
    // The last playlist text received, exactly as the fetch handed it in,
    // whether or not the store accepted it (the fetch compares the next
    // answer with this copy, not with what a widget gives back, and with the
    // last text it imported).
    std::string PlaylistText() const { return playlistText_; }
    void SetPlaylistText(const std::string& text);
    bool RestartOn() const { return restartOn_; }
    TimeOfDay RestartTime() const { return restartTime_; }
    bool AutoPlay() const override { return autoPlay_; }
    bool Stopped() const override { return stopped_; }

    // ---- actions -----------------------------------------------------------
    // The start-up sequence (AppController::Start).
    void StartUp();
    void Fetch();
    void PlayOnce();
    void PlayInLoop();
    // The stop/start toggle (AppController::ToggleStop).
    void ToggleStop();
    // Shows the taskbar and the pointer. During a run the presenters' cover
    // gives way to them until the run's next item is shown
    // (Presenters::GiveWayToDesktop); the run goes on.
    void ShowDesktop();
    void Quit();
    // Restores the application from the tray (AppController::ShowWindow).
    void ShowWindow();
    // The keyword; when it changes it is stored (AppController::StoreKeyword).
    void StoreKeyword(const std::string& text) override;
    // The auto-play choice; when it changes it is stored
    // (AutoRunControl::StoreAutoPlay).
    void StoreAutoPlay(bool on) override;
    // The restart switch; when it changes it is stored with the restart time
    // (RestartControl::StoreRestartSwitch).
    void StoreRestartSwitch(bool on) override;
    // The restart time the operator chose; stored whether or not the restart
    // is on (RestartControl::StoreRestartTime).
    void StoreRestartTime(const TimeOfDay& time);
    // Esc in any window of the application (AppController::StopOnEscape).
    void StopOnEscape();
    // Anything asks the control window to close (close box, Alt+F4, the
    // session ending): the answer is "no" and the application goes to the
    // tray (AppController::RefuseClose).
    bool RefuseClose();
    // The client's timers: the watchdog, the playlist refresh, the restart
    // check.
    void WatchdogTick();
    void RefreshTick();
    void RestartTick();

    // ---- OperatorState: what the controller sets -----------------------------
    void ShowPlayPage() override;
    // The restart time as loaded; nothing is stored.
    void SetRestartTime(const TimeOfDay& time) override;
    void SetStopped(bool stopped) override;
    void MinimizeApplication() override;
    void RestoreApplication() override;

signals:
    void keywordChanged(const QString& keyword);
    void playlistTextChanged(const QString& text);
    void restartOnChanged(bool on);
    void restartTimeChanged(const QTime& time);
    void autoPlayChanged(bool on);
    void stoppedChanged(bool stopped);
    // What the window is asked to do.
    void playPageRequested();
    void minimizeRequested();
    void restoreRequested();

private:
    // Runs the logic of an action in the controller's guard; nothing before
    // Connect().
    template <typename Action>
    void Guarded(Action action);

    std::optional<Logic> logic_;
    std::string keyword_;
    std::string playlistText_;
    bool restartOn_ = false;
    TimeOfDay restartTime_ = kDefaultRestartTime;
    bool autoPlay_ = false;
    bool stopped_ = false;
};

// The time of day as the window's time picker holds it, and back.
QTime ToQTime(const TimeOfDay& time);
TimeOfDay FromQTime(const QTime& time);

}  // namespace zorvak
