#pragma once

#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <string>

#include "app/client_environment.h"
#include "app/controller.h"
#include "core/play_flags.h"
#include "core/settings.h"

class QCheckBox;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QSystemTrayIcon;
class QTabWidget;
class QTableView;
class QTimeEdit;
class QToolButton;
class QAction;

namespace zorvak {

class PlaylistGridModel;
class PlaylistStore;
class HttpClient;
class PlaylistFetch;
class AutoRunControl;
class RestartControl;
class PlayLoop;
class MediaDownloader;
class TickTimer;
class EscapeHook;

// The control window and the composition root of the client: it owns the
// settings, the store, the play loop, the presenters, the controller, the three
// timers, the tray icon and the application-wide Esc hook, and wires every
// control to its handler. Its creation runs the start-up sequence, so a play
// run started at start-up runs inside the constructor, serving events from
// inside, and the constructor returns when that run ends.
class TquenloMain final : public QMainWindow, private ControlWindow {
    Q_OBJECT
public:
    static constexpr const char* kCaption = "Zorvak广告控制客户端";
    static constexpr int kWidth = 625;
    static constexpr int kHeight = 517;
    static constexpr int kRefreshIntervalMs = 60000;
    static constexpr int kWatchdogIntervalMs = 6000000;
    static constexpr int kRestartCheckIntervalMs = 1000;

    explicit TquenloMain(ClientEnvironment environment);
    ~TquenloMain() override;

    // After creation: shows the window as the main window, centred on the
    // screen, unless quit was asked for meanwhile.
    void ShowMainWindow();
    // True once quit has asked the application to terminate.
    bool TerminateRequested() const { return terminateRequested_; }

    // The parts, for the tests and the rig.
    AppController& Controller() { return *controller_; }
    PlayFlags& Flags() { return flags_; }
    PlaylistStore& Store() { return *store_; }
    const Settings& SettingsFile() const { return settings_; }
    TickTimer& timGetPlayList() { return *timGetPlayList_; }
    TickTimer& timDogDoor() { return *timDogDoor_; }
    TickTimer& timAutoRestart() { return *timAutoRestart_; }
    QSystemTrayIcon& TrayIcon() { return *trayIcon_; }
    QMenu& TrayMenu() { return *pmTray_; }
    // True while the application is minimised to the tray.
    bool MinimizedToTray() const { return minimizedToTray_; }

    // The handlers of the timers and of the controls that belong to other
    // parts of the client, as the window runs them.
    void timGetPlayListTimer();
    void timAutoRestartTimer();
    void btnDownPlayListClick();
    void btnShowMouseClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // ControlWindow
    void ShowPlayPage() override;
    std::string KeywordText() const override;
    void SetKeywordText(const std::string& text) override;
    void SetRestartTime(const TimeOfDay& time) override;
    void SetRestartTicked(bool ticked) override;
    bool AutoRunTicked() const override;
    void SetAutoRunTicked(bool ticked) override;
    std::string StopCaption() const override;
    void SetStopCaption(const std::string& caption) override;
    void StartWatchdogTimer() override;
    void StartRefreshTimer() override;
    void StartRestartTimer() override;
    void MinimizeApplication() override;
    void RestoreApplication() override;
    void RequestTerminate() override;

    void BuildWidgets();
    void BuildTray();
    void WireControls();
    // Runs a handler of a control or a timer: an error that escapes it is
    // shown in the standard error box.
    void Guarded(const std::function<void()>& handler);
    TimeOfDay PickerTime() const;

    ClientEnvironment env_;
    Settings settings_;
    PlayFlags flags_;
    std::unique_ptr<EventPump> pump_;
    std::unique_ptr<Presenters> presenters_;
    std::unique_ptr<DesktopChrome> chrome_;
    std::unique_ptr<PlaylistStore> store_;
    std::unique_ptr<DatabaseConnection> database_;
    std::unique_ptr<MediaDownloader> downloader_;
    std::unique_ptr<PlayLoop> playLoop_;
    // The shared HTTP client of the playlist fetch and the online pictures.
    std::unique_ptr<HttpClient> idp1_;
    std::unique_ptr<PlaylistFetch> fetch_;
    std::unique_ptr<AutoRunControl> autoRunControl_;
    std::unique_ptr<RestartControl> restartControl_;
    std::unique_ptr<AppController> controller_;

    // Widgets, named as the operator's documentation names them.
    QLineEdit* edPlayUrl_ = nullptr;
    QPushButton* btnDownPlayList_ = nullptr;
    QToolButton* sbQuit_ = nullptr;
    QTabWidget* pcMain_ = nullptr;
    QWidget* ts1_ = nullptr;
    QPushButton* btnPlayOnce_ = nullptr;
    QPushButton* btnReplayPlayList_ = nullptr;
    QPushButton* btnStop_ = nullptr;
    QPushButton* btnShowMouse_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QPlainTextEdit* mmTmp_ = nullptr;
    // The memo's text exactly as the fetch put it there: the edit keeps line
    // breaks as paragraphs and gives CR LF back as LF, so the fetch compares
    // the next answer with this copy. The memo is read-only, so both agree.
    std::string mmTmpText_;
    QTableView* DBGrid2_ = nullptr;
    PlaylistGridModel* gridModel_ = nullptr;
    QCheckBox* cbAutoRun_ = nullptr;
    QTimeEdit* dtpRestartTime_ = nullptr;
    QCheckBox* cbRestartTime_ = nullptr;

    QSystemTrayIcon* trayIcon_ = nullptr;
    QMenu* pmTray_ = nullptr;
    QAction* N1_ = nullptr;
    QAction* X1_ = nullptr;

    TickTimer* timGetPlayList_ = nullptr;
    TickTimer* timDogDoor_ = nullptr;
    TickTimer* timAutoRestart_ = nullptr;
    std::unique_ptr<EscapeHook> ApplicationEvents1_;

    bool terminateRequested_ = false;
    bool minimizedToTray_ = false;
    bool shownBefore_ = false;
};

}  // namespace zorvak
