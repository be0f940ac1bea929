// The built zorvak-client as a process: it starts playing at start-up and a
// request to end (SIGTERM, as a session or the demo sends it) quits it
// cleanly in the middle of the start-up run.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <QPixmap>

#include "client_rig.h"

namespace zorvak::test {
namespace {

bool ScreenMiddleIsRed() {
    QScreen* screen = QGuiApplication::primaryScreen();
    QRect g = screen->geometry();
    QImage shot = screen->grabWindow(0, g.center().x(), g.center().y(), 1, 1).toImage();
    if (shot.isNull()) return false;
    QColor c = shot.pixelColor(0, 0);
    return c.red() > 200 && c.green() < 60 && c.blue() < 60;
}

TEST(ClientProcess, QuitsCleanlyOnSigtermDuringTheStartUpRun) {
    ZORVAK_NEEDS_DISPLAY();
    ClientRig rig;
    const std::string app = rig.folder.Path();
    std::filesystem::copy_file(std::string(ZORVAK_RUNTIME_DIR) + "/zorvak-client",
                               app + "zorvak-client");
    rig.WriteIni("[PLAYLIST]\nKEYWORD=a\nnoautorun=0\n");
    PlaylistItem item;
    item.f_filename = "red.png";
    item.play_time = 60;
    rig.ImportPlaylist(ClientPlaylist({item}));
    QImage red(320, 240, QImage::Format_RGB32);
    red.fill(Qt::red);
    std::filesystem::create_directories(app + "data");
    ASSERT_TRUE(red.save(QString::fromStdString(app + "data/red.png")));
    std::filesystem::create_directories(app + "config");

    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::setenv("XDG_CONFIG_HOME", (app + "config").c_str(), 1);
        ::setenv("ZORVAK_PLAYLIST_SERVER", rig.server.HostPort().c_str(), 1);
        int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) {
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        ::execl((app + "zorvak-client").c_str(), "zorvak-client", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    bool shown = ServeUntil(ScreenMiddleIsRed, 20000);
    ::kill(pid, SIGTERM);
    int status = -1;
    bool reaped = false;
    bool ended = ServeUntil(
        [&] { return reaped || (reaped = ::waitpid(pid, &status, WNOHANG) == pid); }, 10000);
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(shown) << "the picture never showed";
    ASSERT_TRUE(ended) << "the client did not end";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(ScreenMiddleIsRed());
    // Start-up registered the client to start with the session.
    EXPECT_TRUE(std::filesystem::exists(app + "config/autostart/zorvak-client.desktop"));
}

}  // namespace
}  // namespace zorvak::test
