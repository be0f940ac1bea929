#pragma once

#include <QMainWindow>

#include <functional>

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

class ClientModel;
class PlaylistGridModel;
class ValidNowQuery;

// The control window: the operator's window and the client's main window, a
// view of the client's model. It builds its widgets, shows the model's state
// as the model announces it, turns the operator's clicks and edits into the
// model's actions and does what the model asks of a window (bring the play
// page to the front, minimise, restore). No logic reads its widgets.
//
// Its widgets carry object names (edPlayUrl, btnStop, cbAutoRun, ...) by which
// tests and the operator's descriptions find them.
class ControlWindow final : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kWidth = 625;
    static constexpr int kHeight = 517;

    // trayAvailable tells, at each minimise, whether the desktop has a tray to
    // minimise into.
    ControlWindow(ClientModel& model, std::function<bool()> trayAvailable);
    ~ControlWindow() override;

    // True while the application is minimised to the tray (hidden, with no
    // taskbar entry).
    bool MinimizedToTray() const { return minimizedToTray_; }

    // The grid shows the valid rows as selected last.
    void ShowValidRows(const ValidNowQuery& selection);

    // Minimising hides the window into the tray when the desktop has one, and
    // minimises it normally, keeping its taskbar entry, when it has none
    // (there would be no way back otherwise). Restoring shows the window and
    // its taskbar entry again.
    void MinimizeApplication();
    void RestoreApplication();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildWidgets();
    // The model's state into the widgets, and from now on its changes.
    void ShowModel();
    // The widgets' signals to the model's actions.
    void ConnectControls();

    ClientModel& model_;
    std::function<bool()> trayAvailable_;

    QLineEdit* keywordEdit_ = nullptr;
    QPushButton* fetchButton_ = nullptr;
    QToolButton* quitButton_ = nullptr;
    QTabWidget* pages_ = nullptr;
    QWidget* playPage_ = nullptr;
    QPushButton* playOnceButton_ = nullptr;
    QPushButton* playInLoopButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* showDesktopButton_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QPlainTextEdit* playlistTextView_ = nullptr;
    QTableView* validRowsView_ = nullptr;
    PlaylistGridModel* validRowsModel_ = nullptr;
    QCheckBox* autoPlayBox_ = nullptr;
    QTimeEdit* restartTimePicker_ = nullptr;
    QCheckBox* restartBox_ = nullptr;

    bool minimizedToTray_ = false;
    bool shownBefore_ = false;
};

}  // namespace zorvak
