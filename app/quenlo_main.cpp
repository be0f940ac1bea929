#include "app/quenlo_main.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSessionManager>
#include <QSplitter>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableView>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <chrono>
#include <thread>

#include "app/app_icon.h"
#include "app/escape_hook.h"
#include "app/playlist_grid_model.h"
#include "app/termination_signals.h"
#include "app/tick_timer.h"
#include "playback/play_loop.h"
#include "playback/presenters/backdrop.h"
#include "playback/presenters/window_presenters.h"
#include "playlist/fetch.h"
#include "playlist/http_client.h"
#include "playlist/media_download.h"
#include "playlist/store.h"
#include "system/auto_run_control.h"
#include "system/restart_control.h"

namespace zorvak {

namespace {

// The one thread's pump: everything waiting is processed, then it returns.
class QtEventPump final : public EventPump {
public:
    void Pump() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
};

class StoreConnection final : public DatabaseConnection {
public:
    explicit StoreConnection(PlaylistStore& store) : store_(store) {}
    bool IsConnected() const override { return store_.IsConnected(); }
    void ConnectDatabase() override { store_.ConnectDatabase(); }

private:
    PlaylistStore& store_;
};

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

QPushButton* MakeButton(const char* objectName, const char* caption, int width, int height) {
    auto* button = new QPushButton(Text(caption));
    button->setObjectName(objectName);
    button->setFixedSize(width, height);
    return button;
}

}  // namespace

TquenloMain::TquenloMain(ClientEnvironment environment)
    : env_(std::move(environment)), settings_(*env_.appDirectory) {
    setObjectName("quenloMain");
    pump_ = std::make_unique<QtEventPump>();
    idp1_ = std::make_unique<HttpClient>(*pump_);
    if (env_.presenters) {
        presenters_ = std::move(env_.presenters);
    } else {
        // Online pictures come through the shared client; while it is busy
        // with a fetch, the picture shows nothing.
        PresenterSettings presenterSettings;
        presenterSettings.report_error = [this](const std::string& message) {
            if (env_.errorBox) env_.errorBox(StandardErrorText(message));
        };
        presenters_ = std::make_unique<WindowPresenters>(
            *env_.connectivity, *env_.appDirectory,
            [this](const std::string& url) -> std::optional<std::string> {
                HttpResponse answer = idp1_->Get(url);
                if (!answer.ok()) return std::nullopt;
                return std::move(answer.body);
            },
            std::move(presenterSettings));
    }
    chrome_ = env_.chrome ? std::move(env_.chrome)
                          : std::make_unique<BackdropDesktopChrome>(CreateDesktopChrome());
    store_ = std::make_unique<PlaylistStore>(*env_.appDirectory, *env_.clock);
    database_ = std::make_unique<StoreConnection>(*store_);
    downloader_ = std::make_unique<MediaDownloader>(*env_.appDirectory, *env_.connectivity,
                                                    *pump_, env_.showMessage);
    playLoop_ = std::make_unique<PlayLoop>(PlayLoop::Deps{
        flags_, *store_, *presenters_, *chrome_, *env_.shell, *env_.connectivity, *pump_,
        settings_, *env_.appDirectory,
        [this](const std::string& fileName, const std::string& url) {
            return downloader_->DownloadMediaFile(fileName, url);
        },
        [this] { MinimizeApplication(); },
        [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }});
    autoRunControl_ = std::make_unique<AutoRunControl>(
        *env_.autoRun, WriterOf(settings_), [this] { return cbAutoRun_->isChecked(); });
    restartControl_ = std::make_unique<RestartControl>(RestartControl::Parts{
        [this] { return cbRestartTime_->isChecked(); }, [this] { return PickerTime(); },
        *env_.clock, WriterOf(settings_), DatabaseOf(*store_),
        [this] { presenters_->CloseAllPresenters(); }, *pump_, *env_.power});
    controller_ = std::make_unique<AppController>(ControllerParts{
        settings_, flags_, *env_.autoRun, *database_, *presenters_, *chrome_, *pump_,
        static_cast<ControlWindow&>(*this), [this] { playLoop_->btnReplayPlayListClick(); },
        ParseLongTime, env_.errorBox, env_.defaultKeyword});

    BuildWidgets();
    BuildTray();
    fetch_ = std::make_unique<PlaylistFetch>(
        *env_.connectivity, settings_, *store_, *idp1_,
        PlaylistFetch::Window{
            [this] { return edPlayUrl_->text().toStdString(); },
            [this] { return mmTmpText_; },
            [this](const std::string& text) {
                mmTmpText_ = text;
                mmTmp_->setPlainText(QString::fromStdString(text));
            }},
        env_.playlistServer);

    timGetPlayList_ = new TickTimer(kRefreshIntervalMs, [this] { Guarded([this] {
        timGetPlayListTimer(); }); }, this);
    timDogDoor_ = new TickTimer(kWatchdogIntervalMs, [this] { Guarded([this] {
        controller_->timDogDoorTimer(); }); }, this);
    timAutoRestart_ = new TickTimer(kRestartCheckIntervalMs, [this] { Guarded([this] {
        timAutoRestartTimer(); }); }, this);
    timAutoRestart_->Start();

    ApplicationEvents1_ = std::make_unique<EscapeHook>([this] { controller_->EscapePressed(); });
    WireControls();
    trayIcon_->show();
    if (env_.quitOnTerminationSignals)
        new TerminationSignals([this] { Guarded([this] { controller_->sbQuitClick(); }); }, this);

    // The start-up sequence; a play run it starts returns only when it ends.
    controller_->FormCreate();
}

TquenloMain::~TquenloMain() {
    ApplicationEvents1_.reset();
    store_->PlayList().SetChangeListener(nullptr);
}

void TquenloMain::BuildWidgets() {
    setWindowTitle(Text(kCaption));
    setWindowIcon(ClientIcon());
    QFont font(QStringLiteral("WenQuanYi Zen Hei"));
    font.setPixelSize(12);
    setFont(font);
    resize(kWidth, kHeight);

    auto* central = new QWidget;
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // Banner.
    auto* banner = new QWidget;
    banner->setObjectName("pnlBanner");
    banner->setFixedHeight(41);
    banner->setAutoFillBackground(true);
    QPalette white = banner->palette();
    white.setColor(QPalette::Window, Qt::white);
    banner->setPalette(white);
    auto* bannerRow = new QHBoxLayout(banner);
    bannerRow->setContentsMargins(4, 0, 6, 0);
    auto* title = new QLabel(Text("Zorvak智能广告客户端"));
    title->setObjectName("lblTitle");
    QFont titleFont = font;
    titleFont.setPixelSize(27);
    title->setFont(titleFont);
    QPalette fuchsia = title->palette();
    fuchsia.setColor(QPalette::WindowText, QColor(0xFF, 0x00, 0xFF));
    title->setPalette(fuchsia);
    title->setAlignment(Qt::AlignCenter);
    sbQuit_ = new QToolButton;
    sbQuit_->setObjectName("sbQuit");
    sbQuit_->setText(Text("退出(&X)"));
    sbQuit_->setAutoRaise(true);
    sbQuit_->setFixedSize(60, 26);
    QPalette black = sbQuit_->palette();
    black.setColor(QPalette::ButtonText, Qt::black);
    sbQuit_->setPalette(black);
    bannerRow->addSpacing(60);
    bannerRow->addWidget(title, 1);
    bannerRow->addWidget(sbQuit_, 0, Qt::AlignVCenter);
    column->addWidget(banner);

    // Keyword bar.
    auto* keywordBar = new QWidget;
    keywordBar->setObjectName("pnlKeyword");
    keywordBar->setFixedHeight(41);
    auto* keywordRow = new QHBoxLayout(keywordBar);
    keywordRow->setContentsMargins(8, 0, 8, 0);
    auto* keywordLabel = new QLabel(Text("站点关键字："));
    keywordLabel->setObjectName("lblKeyword");
    edPlayUrl_ = new QLineEdit(QString::fromStdString(env_.defaultKeyword));
    edPlayUrl_->setObjectName("edPlayUrl");
    edPlayUrl_->setFixedWidth(377);
    btnDownPlayList_ = MakeButton("btnDownPlayList", "下载播放数据", 97, 25);
    keywordRow->addWidget(keywordLabel);
    keywordRow->addWidget(edPlayUrl_);
    keywordRow->addSpacing(8);
    keywordRow->addWidget(btnDownPlayList_);
    keywordRow->addStretch(1);
    column->addWidget(keywordBar);

    // Page control with its one page.
    pcMain_ = new QTabWidget;
    pcMain_->setObjectName("pcMain");
    ts1_ = new QWidget;
    ts1_->setObjectName("ts1");
    auto* page = new QVBoxLayout(ts1_);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);

    auto* buttonBar = new QWidget;
    buttonBar->setObjectName("pnlButtons");
    buttonBar->setFixedHeight(57);
    auto* buttonRow = new QHBoxLayout(buttonBar);
    buttonRow->setContentsMargins(8, 0, 8, 0);
    btnPlayOnce_ = MakeButton("btnPlayOnce", "全屏播放一次", 97, 25);
    btnReplayPlayList_ = MakeButton("btnReplayPlayList", "全屏循环播放", 97, 25);
    btnStop_ = MakeButton("btnStop", kStopCaption, 97, 25);
    btnShowMouse_ = MakeButton("btnShowMouse", "显示任务栏和鼠标", 112, 25);
    buttonRow->addWidget(btnPlayOnce_);
    buttonRow->addWidget(btnReplayPlayList_);
    buttonRow->addWidget(btnStop_);
    buttonRow->addStretch(1);
    buttonRow->addWidget(btnShowMouse_);
    page->addWidget(buttonBar);

    splitter_ = new QSplitter(Qt::Horizontal);
    splitter_->setObjectName("Splitter1");
    splitter_->setChildrenCollapsible(false);
    mmTmp_ = new QPlainTextEdit;
    mmTmp_->setObjectName("mmTmp");
    mmTmp_->setReadOnly(true);
    mmTmp_->setMinimumWidth(30);
    DBGrid2_ = new QTableView;
    DBGrid2_->setObjectName("DBGrid2");
    gridModel_ = new PlaylistGridModel(DBGrid2_);
    DBGrid2_->setModel(gridModel_);
    DBGrid2_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid2_->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid2_->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid2_->setShowGrid(true);
    DBGrid2_->setTabKeyNavigation(true);
    DBGrid2_->setWordWrap(false);
    DBGrid2_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    DBGrid2_->horizontalHeader()->setFont(font);
    DBGrid2_->horizontalHeader()->setHighlightSections(false);
    DBGrid2_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    DBGrid2_->verticalHeader()->setFixedWidth(12);
    DBGrid2_->verticalHeader()->setDefaultSectionSize(18);
    for (int i = 0; i < static_cast<int>(std::size(kGridColumns)); ++i)
        DBGrid2_->setColumnWidth(i, FieldColumnWidth(kGridColumns[i], font));
    splitter_->addWidget(mmTmp_);
    splitter_->addWidget(DBGrid2_);
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({185, kWidth - 185});
    page->addWidget(splitter_, 1);

    auto* bottomBar = new QWidget;
    bottomBar->setObjectName("pnlBottom");
    bottomBar->setFixedHeight(36);
    auto* bottomRow = new QHBoxLayout(bottomBar);
    bottomRow->setContentsMargins(8, 0, 8, 0);
    cbAutoRun_ = new QCheckBox(Text("开机启动自动播放"));
    cbAutoRun_->setObjectName("cbAutoRun");
    dtpRestartTime_ = new QTimeEdit(QTime(3, 0, 0));
    dtpRestartTime_->setObjectName("dtpRestartTime");
    dtpRestartTime_->setDisplayFormat(QStringLiteral("H:mm:ss"));
    dtpRestartTime_->setFixedWidth(73);
    cbRestartTime_ = new QCheckBox(Text("定时重启"));
    cbRestartTime_->setObjectName("cbRestartTime");
    bottomRow->addWidget(cbAutoRun_);
    bottomRow->addStretch(1);
    bottomRow->addWidget(dtpRestartTime_);
    bottomRow->addWidget(cbRestartTime_);
    page->addWidget(bottomBar);

    pcMain_->addTab(ts1_, Text("播放操作"));
    column->addWidget(pcMain_, 1);
    setCentralWidget(central);

    // The grid follows the valid-now selection whenever it is made afresh.
    store_->PlayList().SetChangeListener([this] { gridModel_->Refresh(store_->PlayList()); });
}

void TquenloMain::BuildTray() {
    pmTray_ = new QMenu(this);
    pmTray_->setObjectName("pmTray");
    N1_ = pmTray_->addAction(Text("显示窗口(&S)"));
    N1_->setObjectName("N1");
    pmTray_->addSeparator();
    X1_ = pmTray_->addAction(Text("退出(&X)"));
    X1_->setObjectName("X1");

    trayIcon_ = new QSystemTrayIcon(ClientIcon(), this);
    trayIcon_->setObjectName("CoolTrayIcon1");
    trayIcon_->setContextMenu(pmTray_);
}

void TquenloMain::WireControls() {
    connect(edPlayUrl_, &QLineEdit::textChanged, this, [this](const QString& text) {
        Guarded([&] { controller_->edPlayUrlChange(text.toStdString()); });
    });
    connect(btnDownPlayList_, &QPushButton::clicked, this,
            [this] { Guarded([this] { btnDownPlayListClick(); }); });
    connect(btnPlayOnce_, &QPushButton::clicked, this,
            [this] { Guarded([this] { playLoop_->btnPlayOnceClick(); }); });
    connect(btnReplayPlayList_, &QPushButton::clicked, this,
            [this] { Guarded([this] { playLoop_->btnReplayPlayListClick(); }); });
    connect(btnStop_, &QPushButton::clicked, this,
            [this] { Guarded([this] { controller_->btnStopClick(); }); });
    connect(btnShowMouse_, &QPushButton::clicked, this,
            [this] { Guarded([this] { btnShowMouseClick(); }); });
    // Check boxes: their handler runs whenever the tick state changes, by the
    // operator or by code.
    connect(cbAutoRun_, &QCheckBox::toggled, this,
            [this] { Guarded([this] { autoRunControl_->cbAutoRunClick(); }); });
    connect(cbRestartTime_, &QCheckBox::toggled, this,
            [this] { Guarded([this] { restartControl_->cbRestartTimeClick(); }); });
    // Code sets the picker with its signals blocked, so this is the operator.
    connect(dtpRestartTime_, &QTimeEdit::timeChanged, this,
            [this] { Guarded([this] { restartControl_->dtpRestartTimeChange(); }); });
    connect(sbQuit_, &QToolButton::clicked, this,
            [this] { Guarded([this] { controller_->sbQuitClick(); }); });
    connect(N1_, &QAction::triggered, this, [this] { Guarded([this] { controller_->N1Click(); }); });
    connect(X1_, &QAction::triggered, this, [this] { Guarded([this] { controller_->X1Click(); }); });
    // Left and right button both open the menu at the pointer.
    connect(trayIcon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) pmTray_->popup(QCursor::pos());
            });
    // The session manager's request to end the session is refused like a
    // close request.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
        if (manager.allowsInteraction()) manager.cancel();
        controller_->FormCloseQuery();
    });
}

void TquenloMain::Guarded(const std::function<void()>& handler) {
    controller_->RunGuarded(handler);
}

void TquenloMain::ShowMainWindow() {
    if (terminateRequested_) return;
    RestoreApplication();
}

// ---- ControlWindow --------------------------------------------------------

void TquenloMain::ShowPlayPage() { pcMain_->setCurrentWidget(ts1_); }

std::string TquenloMain::KeywordText() const { return edPlayUrl_->text().toStdString(); }

void TquenloMain::SetKeywordText(const std::string& text) {
    edPlayUrl_->setText(QString::fromStdString(text));
}

void TquenloMain::SetRestartTime(const TimeOfDay& time) {
    const QSignalBlocker quiet(dtpRestartTime_);
    dtpRestartTime_->setTime(QTime(time.hour, time.minute, time.second));
}

void TquenloMain::SetRestartTicked(bool ticked) { cbRestartTime_->setChecked(ticked); }

bool TquenloMain::AutoRunTicked() const { return cbAutoRun_->isChecked(); }

void TquenloMain::SetAutoRunTicked(bool ticked) { cbAutoRun_->setChecked(ticked); }

std::string TquenloMain::StopCaption() const { return btnStop_->text().toStdString(); }

void TquenloMain::SetStopCaption(const std::string& caption) {
    btnStop_->setText(QString::fromStdString(caption));
}

void TquenloMain::StartWatchdogTimer() { timDogDoor_->Start(); }
void TquenloMain::StartRefreshTimer() { timGetPlayList_->Start(); }
void TquenloMain::StartRestartTimer() { timAutoRestart_->Start(); }

void TquenloMain::MinimizeApplication() {
    minimizedToTray_ = true;
    hide();
}

void TquenloMain::RestoreApplication() {
    minimizedToTray_ = false;
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    showNormal();
    raise();
    activateWindow();
}

void TquenloMain::RequestTerminate() {
    terminateRequested_ = true;
    if (env_.terminate) env_.terminate();
}

// ---- events ----------------------------------------------------------------

void TquenloMain::closeEvent(QCloseEvent* event) {
    event->ignore();
    Guarded([this] { controller_->FormCloseQuery(); });
}

void TquenloMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        // The minimise button: the window and its taskbar entry go, the tray
        // icon stays.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized()) MinimizeApplication();
        });
    }
}

void TquenloMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shownBefore_) return;
    shownBefore_ = true;
    if (QScreen* screen = this->screen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kWidth / 2, kHeight / 2));
    }
}

// ---- handlers of the other parts ------------------------------------------

TimeOfDay TquenloMain::PickerTime() const {
    QTime t = dtpRestartTime_->time();
    return {t.hour(), t.minute(), t.second()};
}

void TquenloMain::timGetPlayListTimer() { fetch_->timGetPlayListTimer(); }

void TquenloMain::timAutoRestartTimer() { restartControl_->timAutoRestartTimer(); }

void TquenloMain::btnDownPlayListClick() { fetch_->btnDownPlayListClick(); }

void TquenloMain::btnShowMouseClick() { chrome_->SetDesktopChrome(true); }

}  // namespace zorvak
