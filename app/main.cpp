// zorvak-client: the signage client. The start-up sequence runs before the
// main loop, and with it a play run started at start-up, which serves events
// from inside until it ends.
#include <QApplication>

#include "app/client.h"
#include "app/client_environment.h"
#include "core/log.h"
#include "core/product_texts.h"
#include "platform/log_sink.h"
#include "platform/platform.h"
#include "playback/presenters/window_presenters.h"

int main(int argc, char** argv) {
    // Before any thread exists: the heap settings shape every arena.
    zorvak::TuneHeapForLongRuns();
    zorvak::InstallProcessLog();
    try {
        zorvak::PrepareWebEngineEnvironment();
        QApplication app(argc, argv);
        QApplication::setApplicationName(QString::fromUtf8(zorvak::texts::kApplicationTitle));
        QApplication::setQuitOnLastWindowClosed(false);
        zorvak::Client client(zorvak::DefaultClientEnvironment());
        if (!client.Start()) {
            zorvak::LogInfo(zorvak::LogCategory::kApp, "ended during start-up");
            return 0;
        }
        const int code = QApplication::exec();
        zorvak::LogInfo(zorvak::LogCategory::kApp, "ended");
        return code;
    } catch (...) {
        zorvak::LogWarning(zorvak::LogCategory::kApp,
                           "ended by an error: " + zorvak::CurrentExceptionText());
        return 0;
    }
}
