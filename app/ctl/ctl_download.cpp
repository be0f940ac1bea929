#include <cstdio>

#include "app/ctl/commands.h"

namespace zorvak::ctl {

int RunDownload(const std::vector<std::string>&) {
    std::fputs("zorvak-ctl: download is not built yet\n", stderr);
    return 1;
}

}  // namespace zorvak::ctl
