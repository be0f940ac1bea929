#include "playback/presenters/player_core.h"

#include <mpv/client.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>

#include <clocale>
#include <cstdlib>
#include <stdexcept>

#include "platform/platform.h"

namespace zorvak {
namespace {

constexpr uint64_t kObservePause = 1;
constexpr uint64_t kObserveIdle = 2;

// Whether libmpv can draw into a window of the Qt platform in use, given by its
// native id: an X11 window (xcb) or a Windows window handle (windows).
bool PlatformEmbedsByWindowId() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("xcb") || platform == QLatin1String("windows");
}

// The output list for the Qt platform in use. X11: OpenGL, else plain X11
// drawing, which needs no GPU. Windows: Direct3D 11, else Direct3D 9.
// Elsewhere (Wayland, offscreen) the player cannot be embedded and draws
// nothing.
std::string DefaultVideoOutput() {
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb")) {
        // Without a GPU, OpenGL is only a software rasteriser, which the GPU
        // output refuses; probing it would load the rasteriser (and LLVM, tens
        // of MB) into the process for nothing.
        return HasGpuDevice() ? "gpu,x11" : "x11";
    }
    if (platform == QLatin1String("windows")) return "gpu,direct3d";
    return "null";
}

}  // namespace

PlayerCore::PlayerCore(PlayerSettings settings) : settings_(std::move(settings)) {
    if (settings_.videoOutput.empty()) {
        settings_.videoOutput = DefaultVideoOutput();
        if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
            qWarning("Videos are not shown under Wayland: the video player draws into X11 "
                     "windows only. Start the client with QT_QPA_PLATFORM=xcb (XWayland) to "
                     "show them.");
        }
    }
    // libmpv refuses to start under a locale whose decimal point is not '.'.
    std::setlocale(LC_NUMERIC, "C");
    mpv_ = mpv_create();
    if (mpv_ == nullptr) throw std::runtime_error("The video player cannot be created");

    auto option = [this](const char* name, const std::string& value) {
        mpv_set_option_string(mpv_, name, value.c_str());
    };
    option("config", "no");
    option("terminal", std::getenv("ZORVAK_MPV_LOG") ? "yes" : "no");
    if (std::getenv("ZORVAK_MPV_LOG")) option("msg-level", "all=v");
    option("load-scripts", "no");
    option("ytdl", "no");
    option("osc", "no");
    // No built-in scripts either: each runs a Lua interpreter on a thread of
    // its own for the player's whole life, for overlays nobody calls up here.
    option("load-stats-overlay", "no");
    option("load-osd-console", "no");
    option("load-auto-profiles", "no");
    option("input-default-bindings", "no");
    option("input-vo-keyboard", "no");  // keys go to the window, not to mpv
    option("input-cursor", "no");
    option("idle", "yes");
    // The video output stays between clips (idle, it shows black): made anew
    // for each clip, its display connection, configuration and images cost
    // about 90 ms of every clip's first frame.
    option("force-window", "yes");
    option("keep-open", "yes");  // a finished clip stays on screen, paused on its last frame
    option("loop-file", "no");
    option("volume", "50");
    option("mute", "no");
    option("keepaspect", "yes");
    // An online clip is read ahead into memory; mpv's defaults (150 MiB ahead,
    // 50 MiB kept behind for seeking back) would let one clip hold 200 MiB.
    // 32 MiB is half a minute of a clip at 8 Mbit/s, and nothing here seeks back.
    option("demuxer-max-bytes", "32MiB");
    option("demuxer-max-back-bytes", "0");
    // Hardware decoding where a video device exists; probing the decoders
    // without one costs time at every item.
    option("hwdec", HasVideoDecodeDevice() ? "auto-safe" : "no");
    option("vo", settings_.videoOutput);
    option("gpu-sw", settings_.gpuSoftware ? "yes" : "no");
    // X11: OpenGL contexts only (probing Vulkan drivers on a display without
    // a GPU is slow and has broken the X connection here). Windows: Direct3D
    // 11. Probed automatically, a software rasteriser is refused unless
    // gpuSoftware is set, and the list falls back to the next output.
    option("gpu-api", QGuiApplication::platformName() == QLatin1String("windows") ? "d3d11" : "opengl");
    if (!settings_.audioOutput.empty()) option("ao", settings_.audioOutput);

    holder_.setObjectName("PlayerSurfaceHolder");
    auto* surface = new QWidget(&holder_);
    surface->setObjectName("wmMp4");
    surface->setAttribute(Qt::WA_NativeWindow);
    surface->setAttribute(Qt::WA_DontCreateNativeAncestors);
    surface->setAutoFillBackground(true);
    QPalette black = surface->palette();
    black.setColor(QPalette::Window, Qt::black);
    surface->setPalette(black);
    surface_ = surface;
    embedded_ = settings_.videoOutput != "null" && PlatformEmbedsByWindowId();
    if (embedded_) {
        holder_.winId();
        int64_t wid = static_cast<int64_t>(surface->winId());
        mpv_set_option(mpv_, "wid", MPV_FORMAT_INT64, &wid);
    }

    if (mpv_initialize(mpv_) < 0) {
        mpv_terminate_destroy(mpv_);
        mpv_ = nullptr;
        throw std::runtime_error("The video player cannot be initialised");
    }
    mpv_observe_property(mpv_, kObservePause, "pause", MPV_FORMAT_FLAG);
    mpv_observe_property(mpv_, kObserveIdle, "idle-active", MPV_FORMAT_FLAG);
    mpv_set_wakeup_callback(mpv_, &PlayerCore::Wakeup, this);
}

PlayerCore::~PlayerCore() {
    listener_ = nullptr;
    if (mpv_ == nullptr) return;
    // A wakeup arriving during destruction must find nothing to call, and the
    // events already queued are taken off before the core goes.
    mpv_set_wakeup_callback(mpv_, nullptr, nullptr);
    while (mpv_wait_event(mpv_, 0)->event_id != MPV_EVENT_NONE) {
    }
    mpv_terminate_destroy(mpv_);
    mpv_ = nullptr;
}

void PlayerCore::Wakeup(void* self) {
    auto* core = static_cast<PlayerCore*>(self);
    if (core->wakeupPending_.exchange(true)) return;
    QMetaObject::invokeMethod(core, [core] { core->DrainEvents(); }, Qt::QueuedConnection);
}

void PlayerCore::DrainEvents() {
    wakeupPending_ = false;
    while (mpv_ != nullptr) {
        mpv_event* event = mpv_wait_event(mpv_, 0);
        if (event->event_id == MPV_EVENT_NONE) break;
        HandleEvent(*event);
    }
}

void PlayerCore::HandleEvent(const mpv_event& event) {
    switch (event.event_id) {
    case MPV_EVENT_PROPERTY_CHANGE: {
        if (listener_ != nullptr) listener_->PlayerStateChanged();
        break;
    }
    case MPV_EVENT_IDLE:
        idleSeen_ = true;
        break;
    case MPV_EVENT_FILE_LOADED:
        if (listener_ != nullptr) listener_->PlayerStateChanged();
        break;
    case MPV_EVENT_PLAYBACK_RESTART:
        if (listener_ != nullptr) listener_->PlayerStateChanged();
        if (listener_ != nullptr) listener_->PlayerFirstFrame();
        break;
    case MPV_EVENT_VIDEO_RECONFIG:
        if (!pinnedOutput_ && usedOutput_.empty()) usedOutput_ = CurrentVideoOutput();
        break;
    case MPV_EVENT_END_FILE: {
        const auto* end = static_cast<const mpv_event_end_file*>(event.data);
        if (end->reason == MPV_END_FILE_REASON_ERROR && end->playlist_entry_id == currentEntry_ &&
            listener_ != nullptr) {
            listener_->PlayerMediaError();
        }
        break;
    }
    default:
        break;
    }
}

QWidget* PlayerCore::Attach(QWidget* parent, PlayerListener* listener) {
    listener_ = listener;
    if (surface_ == nullptr) return nullptr;
    surface_->setParent(parent);
    surface_->setGeometry(parent->rect());
    surface_->raise();
    surface_->show();
    return surface_;
}

void PlayerCore::Detach(PlayerListener* listener) {
    if (listener != listener_) return;
    listener_ = nullptr;
    currentEntry_ = -1;
    try {
        Stop();
    } catch (...) {
    }
    // The core goes idle on mpv's thread; waiting for that keeps the last
    // frame of this item out of the next one (idle, the output shows black).
    WaitUntilIdle(kIdleWaitMs);
    // The output list is probed once: later items start with the output that
    // worked (probing a missing GPU again costs time at every item).
    if (!pinnedOutput_ && !usedOutput_.empty()) {
        mpv_set_property_string(mpv_, "vo", usedOutput_.c_str());
        pinnedOutput_ = true;
    }
    if (surface_ != nullptr) {
        surface_->hide();
        surface_->setParent(&holder_);
    }
}

void PlayerCore::WaitUntilIdle(int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!idleSeen_ && elapsed.elapsed() < timeoutMs) {
        // In slices, so that the time bound holds however mpv's events come.
        mpv_event* event = mpv_wait_event(mpv_, 0.05);
        if (event->event_id != MPV_EVENT_NONE) HandleEvent(*event);
    }
}

void PlayerCore::SetUrl(const std::string& url) {
    // Whatever is still queued belongs to earlier media.
    DrainEvents();
    // The surface's native window as it is now (a re-created native window
    // gets a new id); read when the next video output is made.
    if (embedded_) {
        int64_t wid = static_cast<int64_t>(surface_->winId());
        mpv_set_property(mpv_, "wid", MPV_FORMAT_INT64, &wid);
    }
    idleSeen_ = false;
    int pause = 1;
    mpv_set_property(mpv_, "pause", MPV_FORMAT_FLAG, &pause);
    const char* command[] = {"loadfile", url.c_str(), "replace", nullptr};
    mpv_node result;
    int status = mpv_command_ret(mpv_, command, &result);
    if (status < 0) {
        idleSeen_ = true;
        throw std::runtime_error(mpv_error_string(status));
    }
    currentEntry_ = -1;
    if (result.format == MPV_FORMAT_NODE_MAP) {
        for (int i = 0; i < result.u.list->num; ++i) {
            if (std::string(result.u.list->keys[i]) == "playlist_entry_id" &&
                result.u.list->values[i].format == MPV_FORMAT_INT64) {
                currentEntry_ = result.u.list->values[i].u.int64;
            }
        }
    }
    mpv_free_node_contents(&result);
}

void PlayerCore::Play() {
    int pause = 0;
    int status = mpv_set_property(mpv_, "pause", MPV_FORMAT_FLAG, &pause);
    if (status < 0) throw std::runtime_error(mpv_error_string(status));
}

void PlayerCore::Stop() {
    const char* command[] = {"stop", nullptr};
    int status = mpv_command(mpv_, command);
    if (status < 0) throw std::runtime_error(mpv_error_string(status));
}

bool PlayerCore::Flag(const char* name, bool fallback) {
    int value = 0;
    if (mpv_get_property(mpv_, name, MPV_FORMAT_FLAG, &value) < 0) return fallback;
    return value != 0;
}

bool PlayerCore::IsPlaying() {
    if (Flag("idle-active", true) || Flag("pause", true)) return false;
    double position = 0;
    // The position exists only while a file is loaded.
    return mpv_get_property(mpv_, "time-pos", MPV_FORMAT_DOUBLE, &position) >= 0;
}

void PlayerCore::SetKeepAspect(bool keep) {
    int value = keep ? 1 : 0;
    mpv_set_property(mpv_, "keepaspect", MPV_FORMAT_FLAG, &value);
}

std::string PlayerCore::CurrentVideoOutput() {
    char* value = mpv_get_property_string(mpv_, "current-vo");
    if (value == nullptr) return {};
    std::string out(value);
    mpv_free(value);
    return out;
}

}  // namespace zorvak
