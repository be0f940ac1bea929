#include "app/quenlo_main.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/app_icon.h"
#include "app/playlist_grid_model.h"
#include "core/product_texts.h"
#include "playback/play_loop.h"
#include "playlist/fetch.h"
#include "playlist/store.h"
#include "system/auto_run_control.h"
#include "system/restart_control.h"

namespace zorvak {

namespace {

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

QPushButton* MakeButton(const char* objectName, const char* caption, int width, int height) {
    auto* button = new QPushButton(Text(caption));
    button->setObjectName(objectName);
    button->setFixedSize(width, height);
    return button;
}

}  // namespace

TquenloMain::TquenloMain(const std::string& defaultKeyword, std::function<bool()> trayAvailable)
    : trayAvailable_(std::move(trayAvailable)) {
    setObjectName("quenloMain");
    BuildWidgets(defaultKeyword);
}

TquenloMain::~TquenloMain() = default;

void TquenloMain::BuildWidgets(const std::string& defaultKeyword) {
    setWindowTitle(Text(texts::kControlWindowCaption));
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
    auto* title = new QLabel(Text(texts::kBannerCaption));
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
    sbQuit_->setText(Text(texts::kQuitCaption));
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
    auto* keywordLabel = new QLabel(Text(texts::kKeywordLabel));
    keywordLabel->setObjectName("lblKeyword");
    edPlayUrl_ = new QLineEdit(QString::fromStdString(defaultKeyword));
    edPlayUrl_->setObjectName("edPlayUrl");
    edPlayUrl_->setFixedWidth(377);
    btnDownPlayList_ = MakeButton("btnDownPlayList", texts::kFetchCaption, 97, 25);
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
    btnPlayOnce_ = MakeButton("btnPlayOnce", texts::kPlayOnceCaption, 97, 25);
    btnReplayPlayList_ = MakeButton("btnReplayPlayList", texts::kPlayInLoopCaption, 97, 25);
    btnStop_ = MakeButton("btnStop", texts::kStopCaption, 97, 25);
    btnShowMouse_ = MakeButton("btnShowMouse", texts::kShowDesktopCaption, 112, 25);
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
    cbAutoRun_ = new QCheckBox(Text(texts::kAutoPlayCaption));
    cbAutoRun_->setObjectName("cbAutoRun");
    dtpRestartTime_ = new QTimeEdit(QTime(3, 0, 0));
    dtpRestartTime_->setObjectName("dtpRestartTime");
    dtpRestartTime_->setDisplayFormat(QStringLiteral("H:mm:ss"));
    dtpRestartTime_->setFixedWidth(73);
    cbRestartTime_ = new QCheckBox(Text(texts::kRestartCaption));
    cbRestartTime_->setObjectName("cbRestartTime");
    bottomRow->addWidget(cbAutoRun_);
    bottomRow->addStretch(1);
    bottomRow->addWidget(dtpRestartTime_);
    bottomRow->addWidget(cbRestartTime_);
    page->addWidget(bottomBar);

    pcMain_->addTab(ts1_, Text(texts::kPlayPageCaption));
    column->addWidget(pcMain_, 1);
    setCentralWidget(central);
}

void TquenloMain::Connect(Handlers handlers) {
    handlers_.emplace(handlers);
    connect(edPlayUrl_, &QLineEdit::textChanged, this, &TquenloMain::edPlayUrlChange);
    connect(btnDownPlayList_, &QPushButton::clicked, this, &TquenloMain::btnDownPlayListClick);
    connect(btnPlayOnce_, &QPushButton::clicked, this, &TquenloMain::btnPlayOnceClick);
    connect(btnReplayPlayList_, &QPushButton::clicked, this,
            &TquenloMain::btnReplayPlayListClick);
    connect(btnStop_, &QPushButton::clicked, this, &TquenloMain::btnStopClick);
    connect(btnShowMouse_, &QPushButton::clicked, this, &TquenloMain::btnShowMouseClick);
    // Check boxes: their handler runs whenever the tick state changes, by the
    // operator or by code.
    connect(cbAutoRun_, &QCheckBox::toggled, this, &TquenloMain::cbAutoRunClick);
    connect(cbRestartTime_, &QCheckBox::toggled, this, &TquenloMain::cbRestartTimeClick);
    // Code sets the picker with its signals blocked, so this is the operator.
    connect(dtpRestartTime_, &QTimeEdit::timeChanged, this, &TquenloMain::dtpRestartTimeChange);
    connect(sbQuit_, &QToolButton::clicked, this, &TquenloMain::sbQuitClick);
}

void TquenloMain::Guarded(const std::function<void(const Handlers&)>& logic) {
    if (!handlers_) return;
    const Handlers& h = *handlers_;
    h.controller.RunGuarded([&] { logic(h); });
}

// ---- handlers --------------------------------------------------------------

void TquenloMain::FormCreate() {
    if (handlers_) handlers_->controller.Start();
}

bool TquenloMain::FormCloseQuery() {
    bool close = false;
    Guarded([&](const Handlers& h) { close = h.controller.RefuseClose(); });
    return close;
}

void TquenloMain::ApplicationEvents1Message() {
    if (handlers_) handlers_->controller.StopOnEscape();
}

void TquenloMain::edPlayUrlChange(const QString& text) {
    Guarded([&](const Handlers& h) { h.controller.StoreKeyword(text.toStdString()); });
}

void TquenloMain::btnDownPlayListClick() {
    Guarded([](const Handlers& h) { h.fetch.Fetch(); });
}

void TquenloMain::btnPlayOnceClick() {
    Guarded([](const Handlers& h) { h.playLoop.PlayOnce(); });
}

void TquenloMain::btnReplayPlayListClick() {
    Guarded([](const Handlers& h) { h.playLoop.PlayInLoop(); });
}

void TquenloMain::btnStopClick() {
    Guarded([](const Handlers& h) { h.controller.ToggleStop(); });
}

void TquenloMain::btnShowMouseClick() {
    Guarded([](const Handlers& h) { h.chrome.SetDesktopChrome(true); });
}

void TquenloMain::cbAutoRunClick() {
    Guarded([](const Handlers& h) { h.autoRun.StoreAutoPlay(); });
}

void TquenloMain::dtpRestartTimeChange() {
    Guarded([](const Handlers& h) { h.restart.StoreRestartTime(); });
}

void TquenloMain::cbRestartTimeClick() {
    Guarded([](const Handlers& h) { h.restart.StoreRestartSwitch(); });
}

void TquenloMain::sbQuitClick() {
    Guarded([](const Handlers& h) { h.controller.Quit(); });
}

void TquenloMain::N1Click() {
    Guarded([](const Handlers& h) { h.controller.ShowWindow(); });
}

void TquenloMain::X1Click() {
    Guarded([](const Handlers& h) { h.controller.Quit(); });
}

void TquenloMain::timGetPlayListTimer() {
    Guarded([](const Handlers& h) { h.fetch.Refresh(); });
}

void TquenloMain::timDogDoorTimer() {
    Guarded([](const Handlers& h) { h.controller.WatchdogTick(); });
}

void TquenloMain::timAutoRestartTimer() {
    Guarded([](const Handlers& h) { h.restart.Tick(); });
}

// ---- what the window shows ---------------------------------------------------

void TquenloMain::SetMemoText(const std::string& text) {
    mmTmpText_ = text;
    mmTmp_->setPlainText(QString::fromStdString(text));
}

void TquenloMain::ShowValidRows(const ValidNowQuery& selection) { gridModel_->Refresh(selection); }

bool TquenloMain::RestartTicked() const { return cbRestartTime_->isChecked(); }

TimeOfDay TquenloMain::RestartTime() const {
    QTime t = dtpRestartTime_->time();
    return {t.hour(), t.minute(), t.second()};
}

// ---- ControlWindow -----------------------------------------------------------

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

void TquenloMain::MinimizeApplication() {
    if (trayAvailable_ && !trayAvailable_()) {
        minimizedToTray_ = false;
        showMinimized();
        return;
    }
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

// ---- events ------------------------------------------------------------------

void TquenloMain::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) event->ignore();
}

void TquenloMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        // The minimise button: the window and its taskbar entry go, the tray
        // icon stays.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized() && (!trayAvailable_ || trayAvailable_())) MinimizeApplication();
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

}  // namespace zorvak
