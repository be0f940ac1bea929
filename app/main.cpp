// zorvak-client: the signage client. The control window's creation runs the
// start-up sequence, including a play run started at start-up, before the main
// loop begins.
#include <QApplication>

#include "app/client_environment.h"
#include "app/quenlo_main.h"
#include "playback/presenters/window_presenters.h"

int main(int argc, char** argv) {
    try {
        zorvak::PrepareWebEngineEnvironment();
        QApplication app(argc, argv);
        QApplication::setApplicationName(QString::fromUtf8(zorvak::kApplicationTitle));
        QApplication::setQuitOnLastWindowClosed(false);
        zorvak::TquenloMain quenloMain(zorvak::DefaultClientEnvironment());
        if (quenloMain.TerminateRequested()) return 0;
        quenloMain.ShowMainWindow();
        return QApplication::exec();
    } catch (...) {
        return 0;
    }
}
