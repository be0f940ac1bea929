// The built zorvak-client as a process: it starts playing at start-up and a
// request to end (SIGTERM, as a session or the demo sends it) quits it
// cleanly in the middle of the start-up run.

#include <signal.h>

#include <QImage>
#include <QPixmap>

#include "client_rig.h"
#include "tests/support/child_process.h"

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

    ChildProcess client = ChildProcess::Start(
        app + "zorvak-client", {"zorvak-client"},
        {.env = {{"XDG_CONFIG_HOME", app + "config"},
                 {"ZORVAK_PLAYLIST_SERVER", rig.server.HostPort()}}});
    ASSERT_TRUE(client.Started());
    bool shown = ServeUntil(ScreenMiddleIsRed, 20000);
    client.Signal(SIGTERM);
    bool ended = ServeUntil([&] { return client.Ended(); }, 10000);
    EXPECT_TRUE(shown) << "the picture never showed";
    ASSERT_TRUE(ended) << "the client did not end";
    EXPECT_TRUE(client.ExitedWith(0)) << client.Status();
    EXPECT_FALSE(ScreenMiddleIsRed());
    // Start-up registered the client to start with the session.
    EXPECT_TRUE(std::filesystem::exists(app + "config/autostart/zorvak-client.desktop"));
}

}  // namespace
}  // namespace zorvak::test

namespace zorvak::test {
namespace {

// Quit while the start-up run downloads a large media file from a slow
// server: the download is abandoned at once (what arrived stays in the
// partial file) and the process ends within moments, instead of after the
// whole file.
TEST(ClientProcess, QuitsAtOnceInTheMiddleOfAMediaDownload) {
    ZORVAK_NEEDS_DISPLAY();
    if (!CreateConnectivity()->IsOnline())
        GTEST_SKIP() << "the machine reports no Internet connection, so the client downloads nothing";
    ClientRig rig;
    const std::string app = rig.folder.Path();
    std::filesystem::copy_file(std::string(ZORVAK_RUNTIME_DIR) + "/zorvak-client",
                               app + "zorvak-client");
    rig.WriteIni("[PLAYLIST]\nKEYWORD=a\nnoautorun=0\n");
    // 60 MB at about 1.3 MB/s: some 45 seconds for the whole file.
    Response slow;
    slow.generatedSize = 60ull * 1000 * 1000;
    slow.generator = [](std::uint64_t offset, char* out, std::size_t length) {
        for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<char>((offset + i) % 251);
        return true;
    };
    slow.chunkSize = 64 * 1024;
    slow.chunkDelay = std::chrono::milliseconds(50);
    rig.server.Route("/big.png", slow);
    PlaylistItem item;
    item.f_filename = "big.png";
    item.listurl = rig.server.Url("/big.png");
    rig.ImportPlaylist(ClientPlaylist({item}));
    std::filesystem::create_directories(app + "config");

    ChildProcess client = ChildProcess::Start(
        app + "zorvak-client", {"zorvak-client"},
        {.env = {{"XDG_CONFIG_HOME", app + "config"},
                 {"ZORVAK_PLAYLIST_SERVER", rig.server.HostPort()}}});
    ASSERT_TRUE(client.Started());
    // HEAD, then the GET that streams the body.
    const bool downloading = rig.server.WaitForRequests(2, std::chrono::seconds(20));
    ServeEvents(1000);
    const auto quit = std::chrono::steady_clock::now();
    client.Signal(SIGTERM);
    const bool ended = ServeUntil([&] { return client.Ended(); }, 20000);
    const auto took = std::chrono::steady_clock::now() - quit;
    EXPECT_TRUE(downloading) << "the download never started";
    ASSERT_TRUE(ended) << "the client did not end";
    EXPECT_TRUE(client.ExitedWith(0)) << client.Status();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
    RecordProperty("QuitMilliseconds", static_cast<int>(ms));
    EXPECT_LT(ms, 2000) << "the client took " << ms << " ms to end";
    // What arrived is kept for the next start; no file under the final name.
    EXPECT_FALSE(std::filesystem::exists(app + "data/big.png"));
    std::error_code ec;
    const auto kept = std::filesystem::file_size(app + "data/big.png.tmp", ec);
    EXPECT_FALSE(ec);
    EXPECT_GT(kept, 0u);
    EXPECT_LT(kept, slow.generatedSize);
}

}  // namespace
}  // namespace zorvak::test
