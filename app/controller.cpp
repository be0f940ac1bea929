#include "app/controller.h"

#include <exception>

#include "core/log.h"
#include "core/product_texts.h"
#include "core/text.h"
#include "system/auto_run_control.h"
#include "system/restart_control.h"
#include "system/setting_access.h"

namespace zorvak {

namespace {

// The stored keyword that stands for "none chosen": the default keyword
// replaces it at start-up.
constexpr const char* kUnsetKeyword = "0";

}  // namespace

const char* StopToggleCaption(bool stopped) {
    return stopped ? texts::kStartCaption : texts::kStopCaption;
}

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
        LogWarning(LogCategory::kApp, std::string("error shown in the error box: ") + e.what());
        if (p_.errorBox) p_.errorBox(StandardErrorText(e.what()));
    } catch (...) {
        LogWarning(LogCategory::kApp, "error shown in the error box: Unknown error");
        if (p_.errorBox) p_.errorBox(StandardErrorText("Unknown error"));
    }
}

void AppController::Start() {
    LogInfo(LogCategory::kApp, "start-up");
    RunGuarded([this] {
        const Settings& s = p_.settings;
        // Start with the session at every start, whatever the auto-play choice.
        p_.autoRun.RegisterAutoRun();
        p_.state.ShowPlayPage();
        p_.flags.PlayActive = false;
        // The keyword is written back when it changes.
        p_.state.StoreKeyword(s.ReadSetting(Settings::kSection, Settings::kKeyword));
        if (TrimBlanks(p_.state.Keyword()) == kUnsetKeyword) {
            s.WriteSetting(Settings::kSection, Settings::kKeyword, p_.defaultKeyword);
            p_.state.StoreKeyword(p_.defaultKeyword);
        }
        p_.database.ConnectDatabase();
        p_.flags.KeepPlaying = false;
        p_.flags.RepeatList = false;
        p_.timers.StartWatchdog();
        p_.timers.StartRefresh();
        const SettingReader read = ReaderOf(s);
        // A stored time that does not convert ends the sequence here.
        p_.state.SetRestartTime(ReadRestartTime(read, p_.textToTime));
        // Each switch is written back when it changes.
        p_.state.StoreRestartSwitch(ReadRestartOn(read));
        p_.timers.StartRestartCheck();
        p_.state.StoreAutoPlay(ReadAutoPlayOn(read));
        if (p_.state.AutoPlay()) p_.state.MinimizeApplication();
        LogInfo(LogCategory::kApp,
                "start-up: keyword \"" + p_.state.Keyword() + "\", store " +
                    (p_.database.IsConnected() ? "open" : "closed") + ", auto-play " +
                    (ReadAutoPlayOn(read) ? "on" : "off"));
        // Read again: the auto-play choice as stored now. Returns when the run
        // ends.
        if (ReadAutoPlayOn(read)) p_.loopPlay();
    });
}

void AppController::StopOnEscape() {
    try {
        p_.pump.Pump();
        p_.presenters.CloseAllPresenters();
        p_.pump.Pump();
        p_.state.RestoreApplication();
        p_.flags.KeepPlaying = false;
        p_.flags.RepeatList = false;
    } catch (...) {
        LogWarning(LogCategory::kApp, "stopping on Esc failed: " + CurrentExceptionText());
    }
}

void AppController::ToggleStop() {
    const bool play = p_.state.Stopped();
    p_.flags.KeepPlaying = play;
    p_.flags.RepeatList = play;
    p_.flags.PlayActive = play;
    p_.state.SetStopped(!play);
}

bool AppController::RefuseClose() {
    p_.state.MinimizeApplication();
    return false;
}

void AppController::Quit() {
    // A run under way stops after the item on screen, so the frame that
    // started it returns and the process can end; nothing starts a run again.
    LogInfo(LogCategory::kApp, "quit");
    p_.flags.Quitting = true;
    p_.flags.KeepPlaying = false;
    p_.flags.RepeatList = false;
    try {
        p_.chrome.SetDesktopChrome(true);
        p_.presenters.CloseAllPresenters();
        if (p_.terminate) p_.terminate();
    } catch (...) {
        LogWarning(LogCategory::kApp, "quitting failed: " + CurrentExceptionText());
    }
}

void AppController::WatchdogTick() {
    if (p_.flags.Quitting) return;
    if (!p_.database.IsConnected()) {
        try {
            p_.database.ConnectDatabase();
        } catch (...) {
            LogWarning(LogCategory::kApp,
                       "watchdog: reopening the store failed: " + CurrentExceptionText());
            return;
        }
    }
    if (!p_.flags.PlayActive) {
        p_.flags.PlayActive = true;
        try {
            p_.loopPlay();
        } catch (...) {
            LogWarning(LogCategory::kApp, "watchdog: the play run ended with an error: " +
                                              CurrentExceptionText());
        }
    }
    p_.flags.KeepPlaying = true;
    p_.flags.RepeatList = true;
    p_.flags.PlayActive = true;
}

void AppController::StoreKeyword(const std::string& text) {
    if (!TrimBlanks(text).empty())
        p_.settings.WriteSetting(Settings::kSection, Settings::kKeyword, text);
}

void AppController::ShowWindow() { p_.state.RestoreApplication(); }

}  // namespace zorvak
