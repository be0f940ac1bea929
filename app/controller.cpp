#include "app/controller.h"

#include <exception>

#include "system/auto_run_control.h"
#include "system/restart_control.h"
#include "system/setting_access.h"

namespace zorvak {

namespace {

constexpr const char* kKeyword = "KEYWORD";

}  // namespace

std::string StandardErrorText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        return message + ".";
    return message;
}

AppController::AppController(ControllerParts parts) : p_(std::move(parts)) {}

void AppController::RunGuarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        if (p_.errorBox) p_.errorBox(StandardErrorText(e.what()));
    } catch (...) {
        if (p_.errorBox) p_.errorBox(StandardErrorText("Unknown error"));
    }
}

void AppController::FormCreate() {
    RunGuarded([this] {
        const Settings& s = p_.settings;
        // 1. Start with the session, whatever the auto-play setting.
        p_.autoRun.RegisterAutoRun();
        // 2.
        p_.window.ShowPlayPage();
        // 3.
        p_.flags.PlayActive = false;
        // 4. The edit's change handler writes the text back when it changes.
        p_.window.SetKeywordText(s.ReadSetting(kPlaylistSection, kKeyword));
        // 5.
        if (TrimBlanks(p_.window.KeywordText()) == "0") {
            s.WriteSetting(kPlaylistSection, kKeyword, p_.defaultKeyword);
            p_.window.SetKeywordText(p_.defaultKeyword);
        }
        // 6.
        p_.database.ConnectDatabase();
        // 7.
        p_.flags.KeepPlaying = false;
        p_.flags.RepeatList = false;
        // 8.
        p_.window.StartWatchdogTimer();
        p_.window.StartRefreshTimer();
        const SettingReader read = ReaderOf(s);
        // 9. The first reading is taken unless the second is exactly "0".
        p_.window.SetRestartTime(ReadRestartTime(read, p_.textToTime));
        // 10. Its click handler runs when the tick state changes.
        p_.window.SetRestartTicked(ReadRestartOn(read));
        // 11.
        p_.window.StartRestartTimer();
        // 12.
        p_.window.SetAutoRunTicked(ReadAutoPlayOn(read));
        // 13.
        if (p_.window.AutoRunTicked()) p_.window.MinimizeApplication();
        // 14. Returns when the run ends.
        if (ReadAutoPlayOn(read)) p_.loopPlay();
    });
}

void AppController::EscapePressed() {
    try {
        p_.pump.Pump();
        p_.presenters.CloseAllPresenters();
        p_.pump.Pump();
        p_.window.RestoreApplication();
        p_.flags.KeepPlaying = false;
        p_.flags.RepeatList = false;
    } catch (...) {
    }
}

void AppController::btnStopClick() {
    if (p_.window.StopCaption() == kStopCaption) {
        p_.flags.KeepPlaying = false;
        p_.flags.RepeatList = false;
        p_.flags.PlayActive = false;
        p_.window.SetStopCaption(kStartCaption);
    } else {
        p_.flags.KeepPlaying = true;
        p_.flags.RepeatList = true;
        p_.flags.PlayActive = true;
        p_.window.SetStopCaption(kStopCaption);
    }
}

bool AppController::FormCloseQuery() {
    p_.window.MinimizeApplication();
    return false;
}

void AppController::sbQuitClick() {
    // A run under way stops after the item on screen, so the frame that
    // started it returns and the process can end.
    p_.flags.KeepPlaying = false;
    p_.flags.RepeatList = false;
    try {
        p_.chrome.SetDesktopChrome(true);
        p_.presenters.CloseAllPresenters();
        p_.window.RequestTerminate();
    } catch (...) {
    }
}

void AppController::timDogDoorTimer() {
    if (!p_.database.IsConnected()) {
        try {
            p_.database.ConnectDatabase();
        } catch (...) {
            return;
        }
    }
    if (!p_.flags.PlayActive) {
        p_.flags.PlayActive = true;
        try {
            p_.loopPlay();
        } catch (...) {
        }
    }
    p_.flags.KeepPlaying = true;
    p_.flags.RepeatList = true;
    p_.flags.PlayActive = true;
}

void AppController::edPlayUrlChange(const std::string& text) {
    if (!TrimBlanks(text).empty()) p_.settings.WriteSetting(kPlaylistSection, kKeyword, text);
}

void AppController::N1Click() { p_.window.RestoreApplication(); }

}  // namespace zorvak
