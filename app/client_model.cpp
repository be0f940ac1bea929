#include "app/client_model.h"

#include "playback/play_loop.h"
#include "playlist/fetch.h"
#include "system/auto_run_control.h"
#include "system/restart_control.h"

namespace zorvak {

ClientModel::ClientModel(std::string defaultKeyword, QObject* parent)
    : QObject(parent), keyword_(std::move(defaultKeyword)) {}

ClientModel::~ClientModel() = default;

void ClientModel::Connect(Logic logic) { logic_.emplace(logic); }

template <typename Action>
void ClientModel::Guarded(Action action) {
    if (!logic_) return;
    const Logic& l = *logic_;
    l.controller.RunGuarded([&] { action(l); });
}

// ---- state -------------------------------------------------------------------

void ClientModel::SetPlaylistText(const std::string& text) {
    playlistText_ = text;
    emit playlistTextChanged(QString::fromStdString(text));
}

// ---- actions -------------------------------------------------------------------

void ClientModel::StartUp() {
    if (logic_) logic_->controller.Start();
}

void ClientModel::Fetch() {
    Guarded([](const Logic& l) {
        AppController& controller = l.controller;
        // The fetch ends later, from the event loop; what escaped it then is
        // shown as an escaping error of the action is.
        l.fetch.Start([&controller](const FetchResult&, std::exception_ptr error) {
            if (error) controller.RunGuarded([error] { std::rethrow_exception(error); });
        });
    });
}

void ClientModel::PlayOnce() {
    Guarded([](const Logic& l) { l.playLoop.PlayOnce(); });
}

void ClientModel::PlayInLoop() {
    Guarded([](const Logic& l) { l.playLoop.PlayInLoop(); });
}

void ClientModel::ToggleStop() {
    Guarded([](const Logic& l) { l.controller.ToggleStop(); });
}

void ClientModel::ShowDesktop() {
    Guarded([](const Logic& l) {
        l.chrome.SetDesktopChrome(true);
        // The run's cover would keep the taskbar and pointer out of sight.
        l.presenters.GiveWayToDesktop();
    });
}

void ClientModel::Quit() {
    Guarded([](const Logic& l) { l.controller.Quit(); });
}

void ClientModel::ShowWindow() {
    Guarded([](const Logic& l) { l.controller.ShowWindow(); });
}

void ClientModel::StoreKeyword(const std::string& text) {
    if (text == keyword_) return;
    keyword_ = text;
    emit keywordChanged(QString::fromStdString(text));
    Guarded([&text](const Logic& l) { l.controller.StoreKeyword(text); });
}

void ClientModel::StoreAutoPlay(bool on) {
    if (on == autoPlay_) return;
    autoPlay_ = on;
    emit autoPlayChanged(on);
    Guarded([](const Logic& l) { l.autoRun.StoreAutoPlay(); });
}

void ClientModel::StoreRestartSwitch(bool on) {
    if (on == restartOn_) return;
    restartOn_ = on;
    emit restartOnChanged(on);
    Guarded([](const Logic& l) { l.restart.StoreRestartSwitch(); });
}

void ClientModel::StoreRestartTime(const TimeOfDay& time) {
    SetRestartTime(time);
    Guarded([](const Logic& l) { l.restart.StoreRestartTime(); });
}

void ClientModel::StopOnEscape() {
    if (logic_) logic_->controller.StopOnEscape();
}

bool ClientModel::RefuseClose() {
    bool close = false;
    Guarded([&close](const Logic& l) { close = l.controller.RefuseClose(); });
    return close;
}

void ClientModel::WatchdogTick() {
    Guarded([](const Logic& l) { l.controller.WatchdogTick(); });
}

void ClientModel::RefreshTick() {
    Guarded([](const Logic& l) { l.fetch.Refresh(); });
}

void ClientModel::RestartTick() {
    Guarded([](const Logic& l) { l.restart.Tick(); });
}

// ---- OperatorState ---------------------------------------------------------------

void ClientModel::ShowPlayPage() { emit playPageRequested(); }

void ClientModel::SetRestartTime(const TimeOfDay& time) {
    if (time == restartTime_) return;
    restartTime_ = time;
    emit restartTimeChanged(ToQTime(time));
}

void ClientModel::SetStopped(bool stopped) {
    if (stopped == stopped_) return;
    stopped_ = stopped;
    emit stoppedChanged(stopped);
}

void ClientModel::MinimizeApplication() { emit minimizeRequested(); }

void ClientModel::RestoreApplication() { emit restoreRequested(); }

QTime ToQTime(const TimeOfDay& time) { return QTime(time.hour, time.minute, time.second); }

TimeOfDay FromQTime(const QTime& time) { return {time.hour(), time.minute(), time.second()}; }

}  // namespace zorvak
