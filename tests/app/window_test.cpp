#include <QAbstractItemModel>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableView>
#include <QTimeEdit>
#include <QToolButton>

#include "app/playlist_grid_model.h"
#include "app/tick_timer.h"
#include "client_rig.h"

namespace zorvak::test {
namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

struct QuietRig : ClientRig {
    QuietRig() { WriteIni("[PLAYLIST]\nKEYWORD=a\nnoautorun=1\n"); }
};

TEST(Window, LayoutCaptionsAndFont) {
    ZORVAK_NEEDS_DISPLAY();
    QuietRig rig;
    Client& c = rig.Start();
    ControlWindow& w = c.Window();
    c.ShowMainWindow();
    ServeUntil([&] { return w.isVisible(); });

    EXPECT_EQ(w.windowTitle(), U("Zorvak广告控制客户端"));
    EXPECT_EQ(w.frameGeometry().size(), QSize(625, 517));
    QRect screen = w.screen()->availableGeometry();
    EXPECT_LE(std::abs(w.frameGeometry().center().x() - screen.center().x()), 2);
    EXPECT_LE(std::abs(w.frameGeometry().center().y() - screen.center().y()), 2);
    EXPECT_EQ(w.font().family(), "WenQuanYi Zen Hei");
    EXPECT_EQ(w.font().pixelSize(), 12);
    EXPECT_TRUE(QFontInfo(w.font()).family().contains("WenQuanYi"));

    auto* title = rig.Child<QLabel>("lblTitle");
    EXPECT_EQ(title->text(), U("Zorvak智能广告客户端"));
    EXPECT_EQ(title->font().pixelSize(), 27);
    EXPECT_EQ(title->palette().color(QPalette::WindowText), QColor(255, 0, 255));
    EXPECT_EQ(rig.Child<QWidget>("pnlBanner")->height(), 41);
    EXPECT_EQ(rig.Child<QWidget>("pnlKeyword")->height(), 41);
    EXPECT_EQ(rig.Child<QWidget>("pnlButtons")->height(), 57);
    EXPECT_EQ(rig.Child<QWidget>("pnlBottom")->height(), 36);

    auto* quit = rig.Child<QToolButton>("sbQuit");
    EXPECT_EQ(quit->text(), U("退出(&X)"));
    EXPECT_EQ(quit->size(), QSize(60, 26));
    EXPECT_TRUE(quit->autoRaise());
    EXPECT_EQ(rig.Child<QLabel>("lblKeyword")->text(), U("站点关键字："));
    EXPECT_EQ(rig.Child<QLineEdit>("edPlayUrl")->width(), 377);

    struct ButtonCase {
        const char* name;
        const char* caption;
        QSize size;
    };
    const ButtonCase buttons[] = {
        {"btnDownPlayList", "下载播放数据", {97, 25}}, {"btnPlayOnce", "全屏播放一次", {97, 25}},
        {"btnReplayPlayList", "全屏循环播放", {97, 25}}, {"btnStop", "停止播放", {97, 25}},
        {"btnShowMouse", "显示任务栏和鼠标", {112, 25}}};
    for (const auto& b : buttons) {
        auto* button = rig.Child<QPushButton>(b.name);
        ASSERT_NE(button, nullptr) << b.name;
        EXPECT_EQ(button->text(), U(b.caption)) << b.name;
        EXPECT_EQ(button->size(), b.size) << b.name;
    }
    // btnShowMouse keeps its distance to the right edge.
    auto* showMouse = rig.Child<QPushButton>("btnShowMouse");
    int rightGap = w.width() - showMouse->mapTo(&w, QPoint(showMouse->width(), 0)).x();
    w.resize(800, 517);
    ServeEvents(20);
    EXPECT_EQ(w.width() - showMouse->mapTo(&w, QPoint(showMouse->width(), 0)).x(), rightGap);

    auto* pages = rig.Child<QTabWidget>("pcMain");
    ASSERT_EQ(pages->count(), 1);
    EXPECT_EQ(pages->tabText(0), U("播放操作"));
    EXPECT_EQ(pages->currentWidget(), rig.Child<QWidget>("ts1"));
    auto* memo = rig.Child<QPlainTextEdit>("mmTmp");
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_TRUE(memo->toPlainText().isEmpty());
    EXPECT_EQ(rig.Child<QSplitter>("Splitter1")->sizes().at(0), 185);
    EXPECT_EQ(rig.Child<QCheckBox>("cbAutoRun")->text(), U("开机启动自动播放"));
    EXPECT_EQ(rig.Child<QCheckBox>("cbRestartTime")->text(), U("定时重启"));
    auto* picker = rig.Child<QTimeEdit>("dtpRestartTime");
    EXPECT_EQ(picker->displayFormat(), "H:mm:ss");
    EXPECT_EQ(picker->width(), 73);
}

TEST(Window, TheGridShowsTheValidRowsInItsSixteenColumns) {
    ZORVAK_NEEDS_DISPLAY();
    QuietRig rig;
    std::vector<PlaylistItem> items;
    for (int i = 1; i <= 3; ++i) {
        PlaylistItem item;
        item.id = i;
        item.order_sx = 4 - i;  // play order is the reverse of the document order
        item.playname = "名" + std::to_string(i);
        items.push_back(item);
    }
    PlaylistItem later;
    later.id = 4;
    later.playname = "later";
    later.f_startdate = "2025-01-01 00:00:00";  // not valid yet
    items.push_back(later);
    rig.ImportPlaylist(ClientPlaylist(items));
    Client& client = rig.Start();
    ControlWindow& w = client.Window();
    auto* grid = rig.Child<QTableView>("DBGrid2");
    QAbstractItemModel* model = grid->model();
    EXPECT_EQ(model->rowCount(), 0);  // nothing selected yet

    client.Store().PlayList().Open();  // the selection made afresh, as a run does
    const char* titles[] = {"ID",     "有效",     "播放名",   "主机名",   "播放列表", "文件名",
                            "链接",   "日期",     "备注",     "类型标志", "顺序",     "播放时长",
                            "在线播放", "开始日期", "结束日期", "更新日期"};
    ASSERT_EQ(model->columnCount(), 16);
    const int widths[] = {30, 30, 100, 100, 100, 100, 100, 100, 100, 60, 30, 60};
    QFontMetrics fm(w.font());
    for (int c = 0; c < 16; ++c) {
        EXPECT_EQ(model->headerData(c, Qt::Horizontal).toString(), U(titles[c])) << c;
        if (c < 12) {
            EXPECT_EQ(grid->columnWidth(c), widths[c]) << c;
        } else {
            // From the field: 10 digits for a whole number, 18 for a date-time.
            int chars = c == 12 ? 10 : 18;
            EXPECT_EQ(grid->columnWidth(c),
                      std::max(fm.horizontalAdvance('0') * chars + 4,
                               fm.horizontalAdvance(U(titles[c])) + 4))
                << c;
        }
    }
    ASSERT_EQ(model->rowCount(), 3);
    EXPECT_EQ(model->index(0, 2).data().toString(), U("名3"));
    EXPECT_EQ(model->index(2, 2).data().toString(), U("名1"));
    EXPECT_EQ(model->index(0, 0).data().toString(), "3");
    EXPECT_EQ(model->index(0, 5).data().toString(), "a.jpg");
    EXPECT_EQ(model->index(0, 10).data().toString(), "1");
    EXPECT_EQ(model->index(0, 13).data().toString(), "2020/01/01 00:00:00");
    for (int c = 0; c < 16; ++c) EXPECT_FALSE(model->flags(model->index(0, c)) & Qt::ItemIsEditable);
    EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(grid->selectionBehavior(), QAbstractItemView::SelectRows);

    client.Store().PlayList().Close();
    EXPECT_EQ(model->rowCount(), 0);
}

TEST(KeywordEdit, EveryChangeWritesTheUntrimmedTextButNeverABlankOne) {
    ZORVAK_NEEDS_DISPLAY();
    QuietRig rig;
    rig.Start();
    auto* edit = rig.Child<QLineEdit>("edPlayUrl");
    auto stored = [&] {
        std::string ini = rig.Ini();
        auto at = ini.find("KEYWORD=");
        return ini.substr(at + 8, ini.find('\n', at) - at - 8);
    };

    edit->setFocus();
    edit->selectAll();
    edit->del();  // cleared: nothing written
    EXPECT_EQ(stored(), "a");
    for (const char* piece : {" ", "s", "h", "o", "p", " "}) {
        edit->insert(piece);
        std::string expected = edit->text().toStdString();
        if (expected == " ")
            EXPECT_EQ(stored(), "a");  // blank: nothing written
        else
            EXPECT_EQ(stored(), expected);
    }
    EXPECT_EQ(stored(), " shop ");
    edit->setText("   ");
    EXPECT_EQ(stored(), " shop ");
    // The file holds the ANSI code page; the reader gives the text back.
    edit->setText(U("站点"));
    FixedAppDirectory dir(rig.folder.Path());
    EXPECT_EQ(Settings(dir).ReadSetting("PLAYLIST", "KEYWORD"), "站点");
}

TEST(Tray, MenuShowsTheWindowAndQuits) {
    ZORVAK_NEEDS_DISPLAY();
    QuietRig rig;
    Client& c = rig.Start();
    ControlWindow& w = c.Window();
    QMenu& menu = c.TrayMenu();
    QList<QAction*> actions = menu.actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_EQ(actions[0]->text(), U("显示窗口(&S)"));
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), U("退出(&X)"));
    EXPECT_EQ(c.TrayIcon().contextMenu(), &menu);
    EXPECT_TRUE(c.TrayIcon().toolTip().isEmpty());
    EXPECT_TRUE(c.TrayIcon().isVisible());
    QList<QSize> sizes = c.TrayIcon().icon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(256, 256)));

    // The minimise button: the window goes to the tray.
    c.ShowMainWindow();
    ServeUntil([&] { return w.isVisible(); });
    w.showMinimized();
    EXPECT_TRUE(ServeUntil([&] { return !w.isVisible(); }));
    EXPECT_TRUE(w.MinimizedToTray());
    EXPECT_TRUE(c.TrayIcon().isVisible());

    // A left click opens the menu as the right one does.
    emit c.TrayIcon().activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(ServeUntil([&] { return menu.isVisible(); }));
    menu.hide();

    actions[0]->trigger();
    EXPECT_TRUE(ServeUntil([&] { return w.isVisible() && !w.isMinimized(); }));
    EXPECT_FALSE(w.MinimizedToTray());

    actions[2]->trigger();
    EXPECT_EQ(rig.terminations, 1);
}

TEST(CheckBoxes, OperatorChangesReachTheirHandlers) {
    ZORVAK_NEEDS_DISPLAY();
    QuietRig rig;
    rig.Start();
    rig.Child<QCheckBox>("cbAutoRun")->click();
    EXPECT_EQ(rig.Ini(), "[PLAYLIST]\nKEYWORD=a\nnoautorun=0\n");
    rig.Child<QTimeEdit>("dtpRestartTime")->setTime(QTime(4, 0, 0));
    EXPECT_EQ(rig.Ini(), "[PLAYLIST]\nKEYWORD=a\nnoautorun=0\nFixTime=4:00:00\n");
    rig.Child<QCheckBox>("cbRestartTime")->click();
    EXPECT_EQ(rig.Ini(), "[PLAYLIST]\nKEYWORD=a\nnoautorun=0\nFixTime=4:00:00\nFixTimeRestart=1\n");
    rig.Child<QCheckBox>("cbAutoRun")->click();
    EXPECT_EQ(rig.Ini(), "[PLAYLIST]\nKEYWORD=a\nnoautorun=1\nFixTime=4:00:00\nFixTimeRestart=1\n");
}

TEST(ShowMouse, TheButtonShowsTheDesktop) {
    ZORVAK_NEEDS_DISPLAY();
    QuietRig rig;
    rig.Start();
    rig.journal.events.clear();
    rig.Child<QPushButton>("btnShowMouse")->click();
    EXPECT_EQ(rig.journal.events, (std::vector<std::string>{"Chrome show"}));
}


// The window is a view of the model: what the model's actions change shows
// in the widgets and is stored, and the logic reads the model's state, not
// the widgets.
TEST(Model, ItsActionsShowInTheWidgetsAndAreStored) {
    ZORVAK_NEEDS_DISPLAY();
    QuietRig rig;
    Client& c = rig.Start();
    ClientModel& model = c.Model();
    model.StoreAutoPlay(true);
    EXPECT_TRUE(rig.Child<QCheckBox>("cbAutoRun")->isChecked());
    model.StoreRestartTime({4, 0, 0});
    EXPECT_EQ(rig.Child<QTimeEdit>("dtpRestartTime")->time(), QTime(4, 0, 0));
    model.StoreRestartSwitch(true);
    EXPECT_TRUE(rig.Child<QCheckBox>("cbRestartTime")->isChecked());
    model.StoreKeyword("shop");
    EXPECT_EQ(rig.Child<QLineEdit>("edPlayUrl")->text(), "shop");
    EXPECT_EQ(rig.Ini(),
              "[PLAYLIST]\nKEYWORD=shop\nnoautorun=0\nFixTime=4:00:00\nFixTimeRestart=1\n");
    model.SetPlaylistText("<playlist/>");
    EXPECT_EQ(rig.Child<QPlainTextEdit>("mmTmp")->toPlainText(), "<playlist/>");

    // A widget changed behind the model's back changes nothing the logic
    // reads: the restart check and the stored values follow the model.
    {
        const QSignalBlocker quiet(rig.Child<QCheckBox>("cbRestartTime"));
        rig.Child<QCheckBox>("cbRestartTime")->setChecked(false);
    }
    EXPECT_TRUE(model.RestartOn());
    rig.clock->Set({2024, 6, 1, 4, 0, 0});
    c.RestartTimer().PostTick();
    EXPECT_TRUE(ServeUntil([&] { return rig.journal.Count("PowerAction 1") == 1; }));
}

TEST(Model, TheStopToggleDecidesByTheStoppedStateNotByTheCaption) {
    ZORVAK_NEEDS_DISPLAY();
    QuietRig rig;
    Client& c = rig.Start();
    auto* stop = rig.Child<QPushButton>("btnStop");
    EXPECT_FALSE(c.Model().Stopped());
    stop->setText(U("开始播放"));  // the caption alone says nothing
    c.Flags() = {true, true, true};
    stop->click();
    EXPECT_TRUE(c.Model().Stopped());
    EXPECT_EQ(stop->text(), U("开始播放"));
    EXPECT_FALSE(c.Flags().KeepPlaying || c.Flags().RepeatList || c.Flags().PlayActive);
    stop->click();
    EXPECT_FALSE(c.Model().Stopped());
    EXPECT_EQ(stop->text(), U("停止播放"));
    EXPECT_TRUE(c.Flags().KeepPlaying && c.Flags().RepeatList && c.Flags().PlayActive);
}

}  // namespace
}  // namespace zorvak::test
