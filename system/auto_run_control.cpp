#include "system/auto_run_control.h"

#include "core/settings.h"

namespace zorvak {

void AutoRunControl::StoreAutoPlay() {
    write_(Settings::kNoAutoRun, ChooseValue<std::string>(autoPlayOn_(), "0", "1"));
}

bool ReadAutoPlayOn(const SettingReader& read) { return read(Settings::kNoAutoRun) == "0"; }

}  // namespace zorvak
