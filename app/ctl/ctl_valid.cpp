#include <cstdio>

#include "app/ctl/commands.h"

namespace zorvak::ctl {

int RunValid(const std::vector<std::string>&) {
    std::fputs("zorvak-ctl: valid is not built yet\n", stderr);
    return 1;
}

}  // namespace zorvak::ctl
