#include "app/control_window.h"

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
#include "app/client_model.h"
#include "app/playlist_grid_model.h"
#include "core/product_texts.h"
#include "playlist/store.h"

namespace zorvak {

namespace {

// The window's look: its font, its bars and the sizes of its controls, in
// pixels.
constexpr const char* kFontFamily = "WenQuanYi Zen Hei";
constexpr int kFontPixels = 12;
constexpr int kTitleFontPixels = 27;
constexpr int kBannerHeight = 41;
constexpr int kKeywordBarHeight = 41;
constexpr int kButtonBarHeight = 57;
constexpr int kBottomBarHeight = 36;
constexpr int kBarMargin = 8;
constexpr int kBannerLeftMargin = 4;
constexpr int kBannerRightMargin = 6;
constexpr QSize kButtonSize{97, 25};
constexpr QSize kShowDesktopButtonSize{112, 25};
constexpr QSize kQuitButtonSize{60, 26};
constexpr int kKeywordEditWidth = 377;
constexpr int kTimePickerWidth = 73;
constexpr int kPlaylistTextWidth = 185;
constexpr int kPlaylistTextMinimumWidth = 30;
constexpr int kRowHeaderWidth = 12;
constexpr int kRowHeight = 18;
const QColor kTitleColour{0xFF, 0x00, 0xFF};

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

QPushButton* MakeButton(const char* objectName, const char* caption, QSize size) {
    auto* button = new QPushButton(Text(caption));
    button->setObjectName(objectName);
    button->setFixedSize(size);
    return button;
}

// A bar of the window: a fixed height, a row of widgets with the given side
// margins.
QHBoxLayout* MakeBar(QWidget* bar, const char* objectName, int height, int left, int right) {
    bar->setObjectName(objectName);
    bar->setFixedHeight(height);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(left, 0, right, 0);
    return row;
}

// A column of widgets filling its parent, without gaps.
QVBoxLayout* MakeColumn(QWidget* parent) {
    auto* column = new QVBoxLayout(parent);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    return column;
}

}  // namespace

ControlWindow::ControlWindow(ClientModel& model, std::function<bool()> trayAvailable)
    : model_(model), trayAvailable_(std::move(trayAvailable)) {
    setObjectName("quenloMain");
    BuildWidgets();
    ShowModel();
    ConnectControls();
}

ControlWindow::~ControlWindow() = default;

void ControlWindow::BuildWidgets() {
    setWindowTitle(Text(texts::kControlWindowCaption));
    setWindowIcon(ClientIcon());
    QFont font(QString::fromUtf8(kFontFamily));
    font.setPixelSize(kFontPixels);
    setFont(font);
    resize(kWidth, kHeight);

    auto* central = new QWidget;
    QVBoxLayout* column = MakeColumn(central);

    // Banner.
    auto* banner = new QWidget;
    QHBoxLayout* bannerRow =
        MakeBar(banner, "pnlBanner", kBannerHeight, kBannerLeftMargin, kBannerRightMargin);
    banner->setAutoFillBackground(true);
    QPalette white = banner->palette();
    white.setColor(QPalette::Window, Qt::white);
    banner->setPalette(white);
    auto* title = new QLabel(Text(texts::kBannerCaption));
    title->setObjectName("lblTitle");
    QFont titleFont = font;
    titleFont.setPixelSize(kTitleFontPixels);
    title->setFont(titleFont);
    QPalette titlePalette = title->palette();
    titlePalette.setColor(QPalette::WindowText, kTitleColour);
    title->setPalette(titlePalette);
    title->setAlignment(Qt::AlignCenter);
    quitButton_ = new QToolButton;
    quitButton_->setObjectName("sbQuit");
    quitButton_->setText(Text(texts::kQuitCaption));
    quitButton_->setAutoRaise(true);
    quitButton_->setFixedSize(kQuitButtonSize);
    QPalette black = quitButton_->palette();
    black.setColor(QPalette::ButtonText, Qt::black);
    quitButton_->setPalette(black);
    // As wide as the quit button, so that the title sits in the middle.
    bannerRow->addSpacing(kQuitButtonSize.width());
    bannerRow->addWidget(title, 1);
    bannerRow->addWidget(quitButton_, 0, Qt::AlignVCenter);
    column->addWidget(banner);

    // Keyword bar.
    auto* keywordBar = new QWidget;
    QHBoxLayout* keywordRow =
        MakeBar(keywordBar, "pnlKeyword", kKeywordBarHeight, kBarMargin, kBarMargin);
    auto* keywordLabel = new QLabel(Text(texts::kKeywordLabel));
    keywordLabel->setObjectName("lblKeyword");
    keywordEdit_ = new QLineEdit;
    keywordEdit_->setObjectName("edPlayUrl");
    keywordEdit_->setFixedWidth(kKeywordEditWidth);
    fetchButton_ = MakeButton("btnDownPlayList", texts::kFetchCaption, kButtonSize);
    keywordRow->addWidget(keywordLabel);
    keywordRow->addWidget(keywordEdit_);
    keywordRow->addSpacing(kBarMargin);
    keywordRow->addWidget(fetchButton_);
    keywordRow->addStretch(1);
    column->addWidget(keywordBar);

    // Page control with its one page.
    pages_ = new QTabWidget;
    pages_->setObjectName("pcMain");
    playPage_ = new QWidget;
    playPage_->setObjectName("ts1");
    QVBoxLayout* page = MakeColumn(playPage_);

    auto* buttonBar = new QWidget;
    QHBoxLayout* buttonRow =
        MakeBar(buttonBar, "pnlButtons", kButtonBarHeight, kBarMargin, kBarMargin);
    playOnceButton_ = MakeButton("btnPlayOnce", texts::kPlayOnceCaption, kButtonSize);
    playInLoopButton_ = MakeButton("btnReplayPlayList", texts::kPlayInLoopCaption, kButtonSize);
    stopButton_ = MakeButton("btnStop", StopToggleCaption(false), kButtonSize);
    showDesktopButton_ =
        MakeButton("btnShowMouse", texts::kShowDesktopCaption, kShowDesktopButtonSize);
    buttonRow->addWidget(playOnceButton_);
    buttonRow->addWidget(playInLoopButton_);
    buttonRow->addWidget(stopButton_);
    buttonRow->addStretch(1);
    buttonRow->addWidget(showDesktopButton_);
    page->addWidget(buttonBar);

    splitter_ = new QSplitter(Qt::Horizontal);
    splitter_->setObjectName("Splitter1");
    splitter_->setChildrenCollapsible(false);
    playlistTextView_ = new QPlainTextEdit;
    playlistTextView_->setObjectName("mmTmp");
    playlistTextView_->setReadOnly(true);
    playlistTextView_->setMinimumWidth(kPlaylistTextMinimumWidth);
    validRowsView_ = new QTableView;
    validRowsView_->setObjectName("DBGrid2");
    validRowsModel_ = new PlaylistGridModel(validRowsView_);
    validRowsView_->setModel(validRowsModel_);
    validRowsView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    validRowsView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    validRowsView_->setSelectionMode(QAbstractItemView::SingleSelection);
    validRowsView_->setShowGrid(true);
    validRowsView_->setTabKeyNavigation(true);
    validRowsView_->setWordWrap(false);
    validRowsView_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    validRowsView_->horizontalHeader()->setFont(font);
    validRowsView_->horizontalHeader()->setHighlightSections(false);
    validRowsView_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    validRowsView_->verticalHeader()->setFixedWidth(kRowHeaderWidth);
    validRowsView_->verticalHeader()->setDefaultSectionSize(kRowHeight);
    for (int i = 0; i < static_cast<int>(std::size(kGridColumns)); ++i)
        validRowsView_->setColumnWidth(i, FieldColumnWidth(kGridColumns[i], font));
    splitter_->addWidget(playlistTextView_);
    splitter_->addWidget(validRowsView_);
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({kPlaylistTextWidth, kWidth - kPlaylistTextWidth});
    page->addWidget(splitter_, 1);

    auto* bottomBar = new QWidget;
    QHBoxLayout* bottomRow =
        MakeBar(bottomBar, "pnlBottom", kBottomBarHeight, kBarMargin, kBarMargin);
    autoPlayBox_ = new QCheckBox(Text(texts::kAutoPlayCaption));
    autoPlayBox_->setObjectName("cbAutoRun");
    restartTimePicker_ = new QTimeEdit;
    restartTimePicker_->setObjectName("dtpRestartTime");
    restartTimePicker_->setDisplayFormat(QStringLiteral("H:mm:ss"));
    restartTimePicker_->setFixedWidth(kTimePickerWidth);
    restartBox_ = new QCheckBox(Text(texts::kRestartCaption));
    restartBox_->setObjectName("cbRestartTime");
    bottomRow->addWidget(autoPlayBox_);
    bottomRow->addStretch(1);
    bottomRow->addWidget(restartTimePicker_);
    bottomRow->addWidget(restartBox_);
    page->addWidget(bottomBar);

    pages_->addTab(playPage_, Text(texts::kPlayPageCaption));
    column->addWidget(pages_, 1);
    setCentralWidget(central);
}

void ControlWindow::ShowModel() {
    // A widget set from the model does not hand the value back.
    auto showKeyword = [this](const QString& keyword) {
        const QSignalBlocker quiet(keywordEdit_);
        if (keywordEdit_->text() != keyword) keywordEdit_->setText(keyword);
    };
    auto showPlaylistText = [this](const QString& text) { playlistTextView_->setPlainText(text); };
    auto showRestartOn = [this](bool on) {
        const QSignalBlocker quiet(restartBox_);
        restartBox_->setChecked(on);
    };
    auto showRestartTime = [this](const QTime& time) {
        const QSignalBlocker quiet(restartTimePicker_);
        restartTimePicker_->setTime(time);
    };
    auto showAutoPlay = [this](bool on) {
        const QSignalBlocker quiet(autoPlayBox_);
        autoPlayBox_->setChecked(on);
    };
    auto showStopped = [this](bool stopped) {
        stopButton_->setText(Text(StopToggleCaption(stopped)));
    };

    showKeyword(QString::fromStdString(model_.Keyword()));
    showPlaylistText(QString::fromStdString(model_.PlaylistText()));
    showRestartOn(model_.RestartOn());
    showRestartTime(ToQTime(model_.RestartTime()));
    showAutoPlay(model_.AutoPlay());
    showStopped(model_.Stopped());

    connect(&model_, &ClientModel::keywordChanged, this, showKeyword);
    connect(&model_, &ClientModel::playlistTextChanged, this, showPlaylistText);
    connect(&model_, &ClientModel::restartOnChanged, this, showRestartOn);
    connect(&model_, &ClientModel::restartTimeChanged, this, showRestartTime);
    connect(&model_, &ClientModel::autoPlayChanged, this, showAutoPlay);
    connect(&model_, &ClientModel::stoppedChanged, this, showStopped);
    connect(&model_, &ClientModel::playPageRequested, this,
            [this] { pages_->setCurrentWidget(playPage_); });
    connect(&model_, &ClientModel::minimizeRequested, this, &ControlWindow::MinimizeApplication);
    connect(&model_, &ClientModel::restoreRequested, this, &ControlWindow::RestoreApplication);
}

void ControlWindow::ConnectControls() {
    ClientModel* model = &model_;
    connect(keywordEdit_, &QLineEdit::textChanged, model,
            [model](const QString& text) { model->StoreKeyword(text.toStdString()); });
    connect(fetchButton_, &QPushButton::clicked, model, [model] { model->Fetch(); });
    connect(playOnceButton_, &QPushButton::clicked, model, [model] { model->PlayOnce(); });
    connect(playInLoopButton_, &QPushButton::clicked, model, [model] { model->PlayInLoop(); });
    connect(stopButton_, &QPushButton::clicked, model, [model] { model->ToggleStop(); });
    connect(showDesktopButton_, &QPushButton::clicked, model, [model] { model->ShowDesktop(); });
    connect(autoPlayBox_, &QCheckBox::toggled, model,
            [model](bool on) { model->StoreAutoPlay(on); });
    connect(restartBox_, &QCheckBox::toggled, model,
            [model](bool on) { model->StoreRestartSwitch(on); });
    connect(restartTimePicker_, &QTimeEdit::timeChanged, model,
            [model](const QTime& time) { model->StoreRestartTime(FromQTime(time)); });
    connect(quitButton_, &QToolButton::clicked, model, [model] { model->Quit(); });
}

void ControlWindow::ShowValidRows(const ValidNowQuery& selection) {
    validRowsModel_->Refresh(selection);
}

void ControlWindow::MinimizeApplication() {
    if (trayAvailable_ && !trayAvailable_()) {
        minimizedToTray_ = false;
        showMinimized();
        return;
    }
    minimizedToTray_ = true;
    hide();
}

void ControlWindow::RestoreApplication() {
    minimizedToTray_ = false;
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    showNormal();
    raise();
    activateWindow();
}

// ---- events ------------------------------------------------------------------

void ControlWindow::closeEvent(QCloseEvent* event) {
    if (!model_.RefuseClose()) event->ignore();
}

void ControlWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        // The minimise button: the window and its taskbar entry go, the tray
        // icon stays.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized() && (!trayAvailable_ || trayAvailable_())) MinimizeApplication();
        });
    }
}

void ControlWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shownBefore_) return;
    shownBefore_ = true;
    if (QScreen* screen = this->screen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kWidth / 2, kHeight / 2));
    }
}

}  // namespace zorvak
