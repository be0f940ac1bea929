#pragma once

#include <memory>
#include <string>

#include "app/client_environment.h"
#include "app/controller.h"
#include "core/play_flags.h"
#include "core/settings.h"

class QMenu;
class QSystemTrayIcon;

namespace zorvak {

class AutoRunControl;
class EscapeHook;
class HttpClient;
class MediaPrefetch;
class PlayLog;
class PlayLoop;
class PlayRecorder;
class PlaylistFetch;
class PlaylistStore;
class RestartControl;
class ClientModel;
class ControlWindow;
class TerminationNotifier;
class TickTimer;

// The client as a whole and its composition root: it owns the settings, the
// play-state flags, the store, the shared HTTP client, the presenters, the
// play loop, the fetch, the unattended-operation controls, the controller,
// the model, the three timers, the tray icon with its menu, the
// application-wide Esc hook and the control window, and wires them together:
// the timers, the tray menu, the termination requests, the session's end and
// the Esc hook go straight to the model's actions. Everything runs on
// the GUI thread of the QApplication, which must exist first and outlive the
// client.
//
// Building it starts nothing but the restart check timer (which runs from the
// moment the window exists); Start() runs the start-up sequence.
class Client final : private ControlTimers {
public:
    explicit Client(ClientEnvironment environment);
    ~Client() override;
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Runs the start-up sequence (ClientModel::StartUp), including a play run
    // it starts, which serves events from inside until it ends; then shows
    // the control window as the main window. False when quit came meanwhile:
    // the process then ends without entering the main loop.
    bool Start();

    // Shows the control window normally, centred on the screen when shown for
    // the first time, unless quit was asked for.
    void ShowMainWindow();
    // True once quit has asked the application to terminate.
    bool TerminateRequested() const { return terminateRequested_; }

    // The parts, for the tests.
    MediaPrefetch& Prefetch() { return *prefetch_; }
    ControlWindow& Window() { return *window_; }
    ClientModel& Model() { return *model_; }
    AppController& Controller() { return *controller_; }
    PlayFlags& Flags() { return flags_; }
    PlaylistStore& Store() { return *store_; }
    PlaylistFetch& Fetcher() { return *fetch_; }
    const Settings& SettingsFile() const { return settings_; }
    TickTimer& RefreshTimer() { return *refreshTimer_; }
    TickTimer& WatchdogTimer() { return *watchdogTimer_; }
    TickTimer& RestartTimer() { return *restartTimer_; }
    QSystemTrayIcon& TrayIcon() { return *trayIcon_; }
    QMenu& TrayMenu() { return *trayMenu_; }

private:
    // ControlTimers
    void StartWatchdog() override;
    void StartRefresh() override;
    void StartRestartCheck() override;

    void BuildTray();
    // The missing media of the valid local items queued for the background.
    void SchedulePrefetch();
    // After an import: starts loop play when it was asked for and not
    // stopped, but no run is under way (see client.cpp).
    void ResumeLoopPlayAfterImport();
    // The play loop's download of the file it reaches next (see PlayLoop).
    bool DownloadForRun(const std::string& fileName, const std::string& url);
    void Terminate();

    ClientEnvironment env_;
    Settings settings_;
    PlayFlags flags_;
    std::unique_ptr<EventPump> pump_;
    // The shared HTTP client of the playlist fetch and the online pictures.
    std::unique_ptr<HttpClient> sharedHttp_;
    std::unique_ptr<Presenters> presenters_;
    std::unique_ptr<DesktopChrome> chrome_;
    std::unique_ptr<PlaylistStore> store_;
    std::unique_ptr<DatabaseConnection> database_;
    // Brings the media of the valid local items into the cache ahead of the run.
    std::unique_ptr<MediaPrefetch> prefetch_;
    std::unique_ptr<PlayLog> playLog_;
    std::unique_ptr<PlayRecorder> playRecorder_;
    std::unique_ptr<ClientModel> model_;
    std::unique_ptr<ControlWindow> window_;
    std::unique_ptr<PlayLoop> playLoop_;
    std::unique_ptr<PlaylistFetch> fetch_;
    std::unique_ptr<AutoRunControl> autoRunControl_;
    std::unique_ptr<RestartControl> restartControl_;
    std::unique_ptr<AppController> controller_;
    std::unique_ptr<TickTimer> refreshTimer_;
    std::unique_ptr<TickTimer> watchdogTimer_;
    std::unique_ptr<TickTimer> restartTimer_;
    std::unique_ptr<QMenu> trayMenu_;
    std::unique_ptr<QSystemTrayIcon> trayIcon_;
    std::unique_ptr<EscapeHook> escapeHook_;
    std::unique_ptr<TerminationNotifier> terminationNotifier_;
    bool terminateRequested_ = false;
};

}  // namespace zorvak
