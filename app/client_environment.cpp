#include "app/client_environment.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QSystemTrayIcon>

#include "core/product_texts.h"
#include "playlist/fetch.h"

namespace zorvak {

namespace {

// The window a message box must open above: the window shown modally (a
// presenter on screen), else a visible window kept above the others (the
// backdrop of a run between two items); null when nothing covers the screen.
QWidget* CoveringWindow() {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->isVisible() && top->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) return top;
    }
    return nullptr;
}

}  // namespace

void ShowMessageBox(QMessageBox::Icon icon, const std::string& text) {
    // Transient for what covers the screen and kept above as well: under a
    // window manager that keeps such windows above the rest, a plain box would
    // open beneath a presenter, and the run would wait on a box nobody sees.
    QMessageBox box(icon, QString::fromUtf8(texts::kApplicationTitle),
                    QString::fromStdString(text), QMessageBox::Ok, CoveringWindow());
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.exec();
}

ClientEnvironment DefaultClientEnvironment() {
    ClientEnvironment env;
    env.appDirectory = std::make_unique<ExecutableAppDirectory>();
    env.clock = std::make_unique<SystemClock>();
    env.connectivity = CreateConnectivity();
    env.autoRun = CreateAutoRun();
    env.shell = CreateShellControl();
    env.power = CreatePower();
    env.errorBox = ShowStandardErrorBox;
    env.showMessage = [](const std::string& text) { ShowMessageBox(QMessageBox::NoIcon, text); };
    env.playlistServer = PlaylistServerAddress();
    env.defaultKeyword = ZORVAK_DEFAULT_KEYWORD;
    env.terminate = [] { QCoreApplication::exit(0); };
    env.quitOnTerminationSignals = true;
    env.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    return env;
}

void ShowStandardErrorBox(const std::string& message) {
    ShowMessageBox(QMessageBox::Critical, message);
}

}  // namespace zorvak
