#pragma once

#include <QMainWindow>

#include <functional>
#include <optional>
#include <string>

#include "app/controller.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTabWidget;
class QTableView;
class QTimeEdit;
class QToolButton;

namespace zorvak {

class AutoRunControl;
class PlayLoop;
class PlaylistFetch;
class PlaylistGridModel;
class RestartControl;
class ValidNowQuery;

// The control window: the operator's window and the client's main window. It
// builds its widgets, shows what the client hands it (the last playlist text,
// the valid rows) and forwards every event of its controls, of the client's
// timers and tray menu, and of the Esc key to the logic behind them. Its
// handler slots carry the names of their control and event; each runs its
// logic inside the controller's guard, so an error that escapes it is shown in
// the standard error box.
//
// The controller sees the window through ControlWindow.
class TquenloMain final : public QMainWindow, public ControlWindow {
    Q_OBJECT
public:
    static constexpr int kWidth = 625;
    static constexpr int kHeight = 517;

    // The logic behind the handlers; built by the client after the window,
    // since it reads the window's controls.
    struct Handlers {
        AppController& controller;
        PlayLoop& playLoop;
        PlaylistFetch& fetch;
        AutoRunControl& autoRun;
        RestartControl& restart;
        DesktopChrome& chrome;
    };

    // defaultKeyword: what the keyword edit holds until start-up loads the
    // stored one. trayAvailable tells, at each minimise, whether the desktop
    // has a tray to minimise into.
    TquenloMain(const std::string& defaultKeyword, std::function<bool()> trayAvailable);
    ~TquenloMain() override;

    // Wires every control to its handler slot. Until then the controls do
    // nothing.
    void Connect(Handlers handlers);

    // True while the application is minimised to the tray (hidden, with no
    // taskbar entry).
    bool MinimizedToTray() const { return minimizedToTray_; }

    // The memo: the last playlist text received, exactly as the fetch put it
    // there (the edit itself gives CR LF back as LF, so the fetch compares the
    // next answer with this copy; the memo is read-only, so both agree).
    std::string MemoText() const { return mmTmpText_; }
    void SetMemoText(const std::string& text);
    // The grid shows the valid rows as selected last.
    void ShowValidRows(const ValidNowQuery& selection);

    // The restart controls, as the restart check reads them.
    bool RestartTicked() const;
    TimeOfDay RestartTime() const;

    // ControlWindow. Minimising hides the window into the tray when the desktop
    // has one, and minimises it normally, keeping its taskbar entry, when it
    // has none (there would be no way back otherwise).
    void ShowPlayPage() override;
    std::string KeywordText() const override;
    void SetKeywordText(const std::string& text) override;
    void SetRestartTime(const TimeOfDay& time) override;
    void SetRestartTicked(bool ticked) override;
    bool AutoRunTicked() const override;
    void SetAutoRunTicked(bool ticked) override;
    std::string StopCaption() const override;
    void SetStopCaption(const std::string& caption) override;
    void MinimizeApplication() override;
    void RestoreApplication() override;

public slots:
    // The window's creation: the start-up sequence (the client runs it once
    // everything is built).
    void FormCreate();
    // Anything asks the window to close (close box, Alt+F4, the session
    // ending): refused, the application goes to the tray.
    bool FormCloseQuery();
    // The Esc key, pressed in any window of the application.
    void ApplicationEvents1Message();

    void edPlayUrlChange(const QString& text);
    void btnDownPlayListClick();
    void btnPlayOnceClick();
    void btnReplayPlayListClick();
    void btnStopClick();
    void btnShowMouseClick();
    void cbAutoRunClick();
    void dtpRestartTimeChange();
    void cbRestartTimeClick();
    void sbQuitClick();
    // The tray menu.
    void N1Click();
    void X1Click();
    // The client's timers.
    void timGetPlayListTimer();
    void timDogDoorTimer();
    void timAutoRestartTimer();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildWidgets(const std::string& defaultKeyword);
    // Runs a handler's logic in the controller's guard; nothing before
    // Connect().
    void Guarded(const std::function<void(const Handlers&)>& logic);

    std::optional<Handlers> handlers_;
    std::function<bool()> trayAvailable_;

    // Controls, named as the operator's documentation names them (also their
    // object names).
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
    std::string mmTmpText_;
    QTableView* DBGrid2_ = nullptr;
    PlaylistGridModel* gridModel_ = nullptr;
    QCheckBox* cbAutoRun_ = nullptr;
    QTimeEdit* dtpRestartTime_ = nullptr;
    QCheckBox* cbRestartTime_ = nullptr;

    bool minimizedToTray_ = false;
    bool shownBefore_ = false;
};

}  // namespace zorvak
