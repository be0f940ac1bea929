#pragma once

// The real control window in a temporary application folder, with recording
// fakes for the OS actions (auto-start, shell, power, screen concealment),
// modal presenter windows that record what they are asked to show, and a
// loopback server.

#include <QApplication>
#include <QElapsedTimer>
#include <QSystemTrayIcon>
#include <QAction>
#include <QEventLoop>
#include <QKeyEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/client.h"
#include "app/client_environment.h"
#include "app/client_model.h"
#include "app/control_window.h"
#include "core/product_texts.h"
#include "core/settings.h"
#include "playback/presenters/window_presenters.h"
#include "playlist/mkstore/store_schema.h"
#include "playlist/store.h"
#include "tests/support/display.h"
#include "tests/support/fakes.h"
#include "tests/support/playlist_items.h"
#include "tests/support/qt_core_loop.h"
#include "tests/support/temp_folder.h"
#include "tools/testserver/test_server.h"

namespace zorvak::test {

// Serves the events waiting now, and those that come within ms
// (tests/support/qt_core_loop.h).
inline void ServeEvents(int ms = 0) { ServeQtFor(std::chrono::milliseconds(ms)); }

// Serves events until done() holds or ms have passed; the result of done().
inline bool ServeUntil(const std::function<bool()>& done, int ms = 5000) {
    return ServeQtUntil(done, std::chrono::milliseconds(ms));
}

// Sends a key press and its release to a top-level window through the
// window system's path: the window first, then its focus widget.
inline void PressKey(QWidget* window, int key, const QString& text = {}) {
    QWindow* handle = window->windowHandle();
    ASSERT_NE(handle, nullptr);
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(handle, &press);
    QCoreApplication::sendEvent(handle, &release);
}

struct Journal {
    std::vector<std::string> events;
    int Count(const std::string& e) const {
        int n = 0;
        for (const auto& x : events) n += x == e;
        return n;
    }
};

class RecordingAutoRun final : public AutoRun {
public:
    explicit RecordingAutoRun(Journal& j) : j_(j) {}
    void RegisterAutoRun() override { j_.events.push_back("RegisterAutoRun"); }

private:
    Journal& j_;
};

class RecordingShell final : public ShellControl {
public:
    explicit RecordingShell(Journal& j) : j_(j) {}
    bool IsProcessRunning(const std::string& name) override {
        j_.events.push_back("IsProcessRunning " + name);
        return false;
    }
    void KillExplorer() override { j_.events.push_back("KillExplorer"); }

private:
    Journal& j_;
};

class RecordingPower final : public Power {
public:
    explicit RecordingPower(Journal& j) : j_(j) {}
    void PowerAction(PowerMode mode) override {
        j_.events.push_back("PowerAction " + std::to_string(static_cast<int>(mode)));
    }

private:
    Journal& j_;
};

class RecordingChrome final : public DesktopChrome {
public:
    explicit RecordingChrome(Journal& j) : j_(j) {}
    void SetDesktopChrome(bool show) override {
        j_.events.push_back(show ? "Chrome show" : "Chrome hide");
    }

private:
    Journal& j_;
};

// A full-screen window shown modally, closed by CloseAllPresenters.
class ItemWindow final : public QWidget {
public:
    std::function<void()> onClose;

protected:
    void closeEvent(QCloseEvent* event) override {
        QWidget::closeEvent(event);
        if (onClose) onClose();
    }
};

// Presenters that show a real modal window per item and record each call.
// While item n is on screen, the action set with At(n) runs from the window's
// own event loop, as a nested handler would; an item without an action ends at
// once, as a short item does.
class ModalRecordingPresenters final : public Presenters {
public:
    struct Call {
        std::string kind;
        std::string location;
        int seconds = 0;
        int online = 0;
    };

    explicit ModalRecordingPresenters(Journal& j) : j_(j) {}

    void At(int index, std::function<void()> action) { actions_[index] = std::move(action); }

    void ShowImage(const std::string& l, int s, MediaSource o) override {
        Show("image", texts::kImageWindowCaption, l, s, o);
    }
    void PlayVideo(const std::string& l, int s, MediaSource o) override {
        Show("video", texts::kVideoWindowCaption, l, s, o);
    }
    void ShowWebPage(const std::string& l, int s, MediaSource o) override {
        Show("page", texts::kWebPageWindowCaption, l, s, o);
    }
    void CloseAllPresenters() override {
        j_.events.push_back("CloseAllPresenters");
        if (open_) open_->close();
    }
    void BeginRun() override { runLog.push_back("BeginRun"); }
    void EndRun() override { runLog.push_back("EndRun"); }
    void GiveWayToDesktop() override { runLog.push_back("GiveWayToDesktop"); }

    // The window on screen, if any.
    QWidget* Open() const { return open_; }

    std::vector<Call> calls;
    // The run's scope as the presenters see it, in order: "BeginRun", "EndRun",
    // "GiveWayToDesktop" and "show <file name>" for each item.
    std::vector<std::string> runLog;
    static constexpr int kMaxCalls = 40;
    // Ends a run that goes on past kMaxCalls items, as Esc would.
    std::function<void()> stopRunaway;

private:
    void Show(const char* kind, const char* caption, const std::string& location, int seconds,
              MediaSource source) {
        int index = static_cast<int>(calls.size());
        calls.push_back({kind, location, seconds, static_cast<int>(source)});
        runLog.push_back("show " + std::filesystem::path(location).filename().string());
        if (open_) return;
        if (index >= kMaxCalls) {
            // A run the test did not mean to last: end it as Esc would.
            ADD_FAILURE() << "runaway play run";
            if (stopRunaway) stopRunaway();
            return;
        }
        ItemWindow window;
        window.setWindowTitle(QString::fromUtf8(caption));
        window.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        window.setWindowModality(Qt::ApplicationModal);
        window.setGeometry(QGuiApplication::primaryScreen()->geometry());
        window.setStyleSheet("background: black");
        QEventLoop loop;
        window.onClose = [&loop] { loop.quit(); };
        window.show();
        open_ = &window;
        std::function<void()> action;
        if (auto it = actions_.find(index); it != actions_.end()) {
            action = std::move(it->second);
            actions_.erase(it);
        } else {
            action = [this] { CloseOpen(); };
        }
        QTimer::singleShot(0, &window, action);
        loop.exec();
        open_ = nullptr;
    }
    void CloseOpen() {
        if (open_) open_->close();
    }

    Journal& j_;
    QPointer<QWidget> open_;
    std::map<int, std::function<void()>> actions_;
};

// The client tests' playlist: a UTF-8 document of items whose unset fields
// take these values, then the document defaults.
inline std::string ClientPlaylist(const std::vector<PlaylistItem>& items) {
    std::string children;
    for (PlaylistItem item : items) {
        const std::string id = item.id.HasText() ? item.id.Text() : "1";
        item.Fill({.listurl = "http://127.0.0.1:9/a.jpg", .playname = "item", .remark = "r" + id});
        children += item.Xml();
    }
    return Document(children, "UTF-8") + "\n";
}

// The client in a fresh application folder: an empty store, no settings file.
struct ClientRig {
    TempFolder folder;
    Journal journal;
    RecordingAutoRun* autoRun = nullptr;
    RecordingShell* shell = nullptr;
    RecordingPower* power = nullptr;
    RecordingChrome* chrome = nullptr;
    SwitchConnectivity* connectivity = nullptr;
    ModalRecordingPresenters* presenters = nullptr;
    SettableClock* clock = nullptr;
    std::vector<std::string> errors;
    std::vector<std::string> messages;
    int terminations = 0;
    // The client's own full-screen presenter windows instead of the recorders.
    bool realPresenters = false;
    // Whether the desktop has a tray to minimise into.
    bool trayAvailable = true;
    TestServer server;
    std::unique_ptr<Client> client;

    ClientRig() {
        std::string error = CreateEmptyStore(folder.Path() + PlaylistStore::kFileName);
        EXPECT_EQ(error, "");
    }
    ~ClientRig() { client.reset(); }

    std::string IniPath() const { return folder.Path() + Settings::kFileName; }
    void WriteIni(const std::string& text) const { std::ofstream(IniPath()) << text; }
    // The settings file with line ends as LF.
    std::string Ini() const {
        std::ifstream f(IniPath(), std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        std::string text = s.str();
        std::erase(text, '\r');
        return text;
    }

    // Puts the document into the store before the client starts.
    void ImportPlaylist(const std::string& document) {
        FixedAppDirectory dir(folder.Path());
        SettableClock now;
        PlaylistStore store(dir, now);
        store.ConnectDatabase();
        ASSERT_TRUE(store.IsConnected());
        store.ImportPlaylist(document, document);
        store.PlayList().Open();
        ASSERT_GT(store.PlayList().RecordCount(), 0) << document;
    }
    // Puts a media file into the cache.
    void CacheFile(const std::string& name, const std::string& bytes = "data") const {
        std::filesystem::create_directories(folder.Path() + "data");
        std::ofstream(folder.Path() + "data/" + name, std::ios::binary) << bytes;
    }

    ClientEnvironment Environment() {
        ClientEnvironment env;
        env.appDirectory = std::make_unique<FixedAppDirectory>(folder.Path());
        auto c = std::make_unique<SettableClock>(LocalDateTime{2024, 6, 1, 12, 0, 0});
        clock = c.get();
        env.clock = std::move(c);
        auto online = std::make_unique<SwitchConnectivity>();
        connectivity = online.get();
        env.connectivity = std::move(online);
        auto a = std::make_unique<RecordingAutoRun>(journal);
        autoRun = a.get();
        env.autoRun = std::move(a);
        auto s = std::make_unique<RecordingShell>(journal);
        shell = s.get();
        env.shell = std::move(s);
        auto p = std::make_unique<RecordingPower>(journal);
        power = p.get();
        env.power = std::move(p);
        auto ch = std::make_unique<RecordingChrome>(journal);
        chrome = ch.get();
        env.chrome = std::move(ch);
        if (!realPresenters) {
            auto pr = std::make_unique<ModalRecordingPresenters>(journal);
            presenters = pr.get();
            pr->stopRunaway = [this] {
                if (client) client->Flags() = {};
            };
            env.presenters = std::move(pr);
        }
        env.errorBox = [this](const std::string& m) { errors.push_back(m); };
        env.showMessage = [this](const std::string& m) { messages.push_back(m); };
        env.terminate = [this] { ++terminations; };
        env.playlistServer = server.HostPort();
        env.defaultKeyword = "demo.zorvak.cn";
        env.trayAvailable = [this] { return trayAvailable; };
        return env;
    }

    // Builds the client.
    Client& Create() {
        ClientEnvironment env = Environment();
        if (beforeStart) beforeStart();
        client = std::make_unique<Client>(std::move(env));
        return *client;
    }
    // Builds the client and runs the start-up sequence, with any play run it
    // starts, before this returns; the window is shown only when the test asks
    // (ShowMainWindow), as Client::Start() would do next.
    Client& Start() {
        Create();
        client->Model().StartUp();
        return *client;
    }
    std::function<void()> beforeStart;

    template <typename T>
    T* Child(const char* name) const {
        return client->Window().findChild<T*>(QString::fromUtf8(name));
    }
};

}  // namespace zorvak::test
