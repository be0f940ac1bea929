#include "app/client.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QSessionManager>
#include <QSystemTrayIcon>
#include <QTimer>

#include "app/app_icon.h"
#include "app/client_model.h"
#include "app/control_window.h"
#include "app/escape_hook.h"
#include "app/termination_notifier.h"
#include "app/tick_timer.h"
#include "core/product_texts.h"
#include "playback/play_loop.h"
#include "playback/play_recorder.h"
#include "playback/presenters/window_presenters.h"
#include "playlist/fetch.h"
#include "playlist/http_client.h"
#include "playlist/media_download.h"
#include "playlist/media_prefetch.h"
#include "playlist/play_log.h"
#include "playlist/store.h"
#include "system/auto_run_control.h"
#include "system/restart_control.h"

namespace zorvak {

namespace {

// The one thread's pump: everything waiting is processed, then it returns.
class QtEventPump final : public EventPump {
public:
    void Pump() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
    // The timer's expiry is an event too: the wait ends with it at the latest.
    void WaitFor(std::chrono::milliseconds limit) override {
        QTimer timer;
        timer.setSingleShot(true);
        timer.start(limit);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
};

class StoreConnection final : public DatabaseConnection {
public:
    StoreConnection(PlaylistStore& store, std::function<void()> connected)
        : store_(store), connected_(std::move(connected)) {}
    bool IsConnected() const override { return store_.IsConnected(); }
    void ConnectDatabase() override {
        store_.ConnectDatabase();
        if (store_.IsConnected() && connected_) connected_();
    }

private:
    PlaylistStore& store_;
    std::function<void()> connected_;
};

}  // namespace

Client::Client(ClientEnvironment environment)
    : env_(std::move(environment)), settings_(*env_.appDirectory) {
    pump_ = std::make_unique<QtEventPump>();
    sharedHttp_ = std::make_unique<HttpClient>(*pump_);
    // Once quit is asked for, nothing waits for the network.
    sharedHttp_->SetAbandonWhen([this] { return flags_.Quitting; });
    if (env_.presenters) {
        presenters_ = std::move(env_.presenters);
    } else {
        // Online pictures come through the shared client; while it is busy
        // with a fetch, the picture shows nothing.
        PresenterSettings presenterSettings;
        presenters_ = std::make_unique<WindowPresenters>(
            *env_.connectivity, *env_.appDirectory,
            [this](const std::string& url) -> std::optional<std::string> {
                HttpResponse answer = sharedHttp_->Get(url);
                if (!answer.ok()) return std::nullopt;
                return std::move(answer.body);
            },
            std::move(presenterSettings));
    }
    chrome_ = env_.chrome ? std::move(env_.chrome) : CreateDesktopChrome();
    store_ = std::make_unique<PlaylistStore>(*env_.appDirectory, *env_.clock);
    // The media of the valid local items are fetched in the background
    // whenever the store opens (start-up, the watchdog), a new playlist was
    // imported and a run makes its selection afresh.
    prefetch_ = std::make_unique<MediaPrefetch>(*env_.appDirectory, *env_.connectivity);
    prefetch_->SetAbandonWhen([this] { return flags_.Quitting; });
    database_ = std::make_unique<StoreConnection>(*store_, [this] { SchedulePrefetch(); });
    // Proof of play and the fetch history, beside the store; the client goes
    // on without them when the file cannot be written.
    playLog_ = std::make_unique<PlayLog>(*env_.appDirectory, *env_.clock);
    playLog_->Open();
    playRecorder_ = std::make_unique<PlayRecorder>(*playLog_);

    // The model comes before the logic that reads its state; the window shows
    // it.
    model_ = std::make_unique<ClientModel>(env_.defaultKeyword);
    window_ = std::make_unique<ControlWindow>(*model_, env_.trayAvailable);
    // The grid follows the valid-now selection whenever it is made afresh.
    store_->PlayList().SetChangeListener([this] {
        window_->ShowValidRows(store_->PlayList());
        if (store_->PlayList().IsOpen()) SchedulePrefetch();
    });

    playLoop_ = std::make_unique<PlayLoop>(PlayLoop::Deps{
        flags_, *store_, *presenters_, *chrome_, *env_.shell, *env_.connectivity, *pump_,
        settings_, *env_.appDirectory,
        [this](const std::string& fileName, const std::string& url) {
            return DownloadForRun(fileName, url);
        },
        [this] { model_->MinimizeApplication(); }, playRecorder_.get()});
    fetch_ = std::make_unique<PlaylistFetch>(
        *env_.connectivity, settings_, *store_, *sharedHttp_,
        PlaylistFetch::Window{[this] { return model_->Keyword(); },
                              [this] { return model_->PlaylistText(); },
                              [this](const std::string& text) { model_->SetPlaylistText(text); }},
        env_.playlistServer);
    fetch_->SetListener([this](const FetchResult& result) { playLog_->RecordFetch(result); });
    fetch_->SetImportedListener([this] {
        SchedulePrefetch();
        ResumeLoopPlayAfterImport();
    });
    autoRunControl_ = std::make_unique<AutoRunControl>(
        *env_.autoRun, WriterOf(settings_), [this] { return model_->AutoPlay(); });
    restartControl_ = std::make_unique<RestartControl>(RestartControl::Parts{
        [this] { return model_->RestartOn(); }, [this] { return model_->RestartTime(); },
        *env_.clock, WriterOf(settings_), DatabaseOf(*store_),
        [this] { presenters_->CloseAllPresenters(); }, *pump_, *env_.power});
    controller_ = std::make_unique<AppController>(ControllerParts{
        settings_, flags_, *env_.autoRun, *database_, *presenters_, *chrome_, *pump_, *model_,
        *this, [this] { playLoop_->PlayInLoop(); }, ParseLongTime, env_.errorBox,
        [this] { Terminate(); }, env_.defaultKeyword});
    model_->Connect({*controller_, *playLoop_, *fetch_, *autoRunControl_, *restartControl_,
                     *chrome_, *presenters_});

    ClientModel* model = model_.get();
    auto makeTimer = [](const char* objectName, std::chrono::milliseconds interval,
                        std::function<void()> tick) {
        auto timer = std::make_unique<TickTimer>(static_cast<int>(interval.count()),
                                                 std::move(tick));
        timer->setObjectName(objectName);
        return timer;
    };
    refreshTimer_ =
        makeTimer("timGetPlayList", kRefreshInterval, [model] { model->RefreshTick(); });
    watchdogTimer_ =
        makeTimer("timDogDoor", kWatchdogInterval, [model] { model->WatchdogTick(); });
    restartTimer_ =
        makeTimer("timAutoRestart", kRestartCheckInterval, [model] { model->RestartTick(); });
    restartTimer_->Start();

    BuildTray();
    escapeHook_ = std::make_unique<EscapeHook>([model] { model->StopOnEscape(); });
    if (env_.quitOnTerminationSignals) {
        // A request from outside to end the process quits as the tray menu does.
        terminationNotifier_ = std::make_unique<TerminationNotifier>([model] { model->Quit(); });
    }
    // The session manager's request to end the session is refused like a
    // close request.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, model,
                     [model](QSessionManager& manager) {
                         if (manager.allowsInteraction()) manager.cancel();
                         model->RefuseClose();
                     });
    trayIcon_->show();
}

Client::~Client() {
    escapeHook_.reset();
    terminationNotifier_.reset();
    store_->PlayList().SetChangeListener(nullptr);
}

void Client::BuildTray() {
    trayMenu_ = std::make_unique<QMenu>();
    trayMenu_->setObjectName("pmTray");
    QAction* showWindow = trayMenu_->addAction(QString::fromUtf8(texts::kShowWindowCaption));
    showWindow->setObjectName("N1");
    trayMenu_->addSeparator();
    QAction* quit = trayMenu_->addAction(QString::fromUtf8(texts::kQuitCaption));
    quit->setObjectName("X1");
    ClientModel* model = model_.get();
    QObject::connect(showWindow, &QAction::triggered, model, [model] { model->ShowWindow(); });
    QObject::connect(quit, &QAction::triggered, model, [model] { model->Quit(); });

    trayIcon_ = std::make_unique<QSystemTrayIcon>(ClientIcon());
    trayIcon_->setObjectName("CoolTrayIcon1");
    trayIcon_->setContextMenu(trayMenu_.get());
    // Left and right button both open the menu at the pointer (the right one
    // by itself).
    QMenu* menu = trayMenu_.get();
    QObject::connect(trayIcon_.get(), &QSystemTrayIcon::activated, menu,
                     [menu](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger) menu->popup(QCursor::pos());
                     });
}

bool Client::Start() {
    model_->StartUp();
    if (terminateRequested_) return false;
    ShowMainWindow();
    return true;
}

void Client::ShowMainWindow() {
    if (terminateRequested_) return;
    model_->RestoreApplication();
}

void Client::Terminate() {
    terminateRequested_ = true;
    if (env_.terminate) env_.terminate();
}

void Client::ResumeLoopPlayAfterImport() {
    // Loop play was asked for (start-up with auto-play, the button, the
    // watchdog) and nobody stopped it since (Esc, the stop button and quit
    // clear these flags), yet no run is under way: its run found nothing to
    // play (an empty or newly replaced store). The new rows start it now
    // rather than at the next watchdog tick. Queued, so that the run does not
    // run inside the fetch that imported them.
    auto wanted = [this] {
        return flags_.KeepPlaying && flags_.RepeatList && !flags_.PlayActive && !flags_.Quitting;
    };
    if (!wanted()) return;
    QTimer::singleShot(0, model_.get(), [this, wanted] {
        if (wanted()) model_->PlayInLoop();
    });
}

void Client::SchedulePrefetch() {
    if (flags_.Quitting) return;
    prefetch_->Schedule(store_->ValidLocalMedia());
}

bool Client::DownloadForRun(const std::string& fileName, const std::string& url) {
    // The file the run needs next: the transfer of it under way, or one put
    // ahead of the queue. Esc, stop and quit end the wait (the row is then
    // skipped and the run ends at its next test); the transfer goes on
    // unless quit abandons it.
    return prefetch_->DownloadForRun(
        fileName, url, [this] { return !flags_.KeepPlaying || flags_.Quitting; },
        env_.showMessage);
}

void Client::StartWatchdog() { watchdogTimer_->Start(); }
void Client::StartRefresh() { refreshTimer_->Start(); }
void Client::StartRestartCheck() { restartTimer_->Start(); }

}  // namespace zorvak
