#include "system/restart_control.h"

#include "core/log.h"
#include "core/settings.h"

namespace zorvak {

void RestartControl::StoreRestartSwitch() {
    p_.write(Settings::kRestartOn, ChooseValue<std::string>(p_.restartOn(), "1", "0"));
    p_.write(Settings::kRestartTime, RestartTimeText());
}

void RestartControl::StoreRestartTime() { p_.write(Settings::kRestartTime, RestartTimeText()); }

void RestartControl::Tick() {
    if (!p_.restartOn()) return;
    LocalDateTime now = p_.clock.Now();
    if (p_.format(TimeOfDay{now.hour, now.minute, now.second}) != RestartTimeText()) return;
    // The row a run is on, so that it goes on from the next one.
    std::optional<std::int64_t> row;
    try {
        if (p_.database.currentRow) row = p_.database.currentRow();
    } catch (...) {
        // No row to go back to: the run goes on from the first.
    }
    auto reopen = [this, &row] {
        p_.database.connectDatabase();
        if (!p_.database.isSelectionOpen()) {
            p_.database.openSelection();
            if (row && p_.database.returnToRow) p_.database.returnToRow(*row);
        }
    };
    try {
        p_.database.closeConnection();
        try {
            p_.pump.Pump();
            p_.closeAllPresenters();
            p_.pump.Pump();
        } catch (...) {
            LogWarning(LogCategory::kPower,
                       "daily restart: closing the presenters failed: " + CurrentExceptionText());
        }
        LogInfo(LogCategory::kPower, "daily restart: asking for a reboot");
        p_.power.PowerAction(PowerMode::kReboot);
    } catch (...) {
        LogWarning(LogCategory::kPower, "daily restart failed: " + CurrentExceptionText());
        reopen();
        return;
    }
    // The process is still here: the reboot was refused, or it is on its way
    // and ends the process a moment later. Until then the run on screen goes
    // on with its next row instead of finding the store closed.
    reopen();
}

TimeOfDay ReadRestartTime(const SettingReader& read,
                          const std::function<TimeOfDay(const std::string&)>& parse) {
    std::string first = read(Settings::kRestartTime);
    std::string second = read(Settings::kRestartTime);
    return parse(ChooseValue<std::string>(second == "0", kDefaultRestartTimeText, first));
}

bool ReadRestartOn(const SettingReader& read) { return read(Settings::kRestartOn) == "1"; }

}  // namespace zorvak
