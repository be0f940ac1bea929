#pragma once

#include <QMessageBox>

#include <functional>
#include <memory>
#include <string>

#include "app/controller.h"
#include "core/app_directory.h"
#include "core/clock.h"
#include "platform/platform.h"
#include "playback/presenters.h"

namespace zorvak {

// What the client is built from beyond its own window: the OS facilities, the
// presenters and the message boxes. DefaultClientEnvironment() gives the real
// ones; tests replace single parts by fakes before the client is built.
struct ClientEnvironment {
    std::unique_ptr<AppDirectory> appDirectory;
    std::unique_ptr<Clock> clock;
    std::unique_ptr<Connectivity> connectivity;
    std::unique_ptr<AutoRun> autoRun;
    std::unique_ptr<ShellControl> shell;
    std::unique_ptr<Power> power;
    // Null: the platform's taskbar and pointer concealment.
    std::unique_ptr<DesktopChrome> chrome;
    // Null: the full-screen presenter windows.
    std::unique_ptr<Presenters> presenters;
    // The standard error box; the real one is a modal message box.
    ErrorBox errorBox;
    // A modal message to the operator (the media download's one message).
    std::function<void(const std::string& text)> showMessage;
    // The playlist server, "host[:port]".
    std::string playlistServer;
    // Written to KEYWORD when the stored keyword is "0".
    std::string defaultKeyword;
    // Ends the main loop when it next takes an event, and every nested loop
    // (a modal presenter) with it; loops started afterwards return at once.
    std::function<void()> terminate;
    // SIGTERM, SIGINT and SIGHUP quit the client as the tray menu's quit does.
    bool quitOnTerminationSignals = false;
    // Whether the desktop has a tray (notification area) to minimise into;
    // asked at each minimise. Null: always.
    std::function<bool()> trayAvailable;
};

// The real environment: the executable's directory, the system clock, the
// platform's facilities, the server from ZORVAK_PLAYLIST_SERVER or the built-in
// one, and modal message boxes captioned with the application title.
ClientEnvironment DefaultClientEnvironment();

// The standard error box: application title, error icon, OK, the message.
// Like every message box of the client, it opens above whatever covers the
// screen during a run (see ShowMessageBox).
void ShowStandardErrorBox(const std::string& message);

// A modal message box captioned with the application title, with one OK
// button; it opens above a presenter or the backdrop of a run, transient for
// it and kept above the other windows.
void ShowMessageBox(QMessageBox::Icon icon, const std::string& text);

}  // namespace zorvak
