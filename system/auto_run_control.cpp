#include "system/auto_run_control.h"

#include "core/settings.h"

namespace zorvak {

void AutoRunControl::cbAutoRunClick() {
    write_("noautorun", ChooseValue<std::string>(autoRunTicked_(), "0", "1"));
}

bool ReadAutoPlayOn(const SettingReader& read) { return read("noautorun") == "0"; }

}  // namespace zorvak
