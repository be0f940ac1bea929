#include <cstdio>

#include "app/ctl/commands.h"

namespace zorvak::ctl {

int RunFetch(const std::vector<std::string>&) {
    std::fputs("zorvak-ctl: fetch is not built yet\n", stderr);
    return 1;
}

}  // namespace zorvak::ctl
