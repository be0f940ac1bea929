// IsOnline on Windows: InternetGetConnectedState with reserved argument 0; the
// connection-type flags it returns are not looked at. (wininet is linked by
// platform/CMakeLists.txt.)
#include <windows.h>
#include <wininet.h>

#include <memory>

#include "platform/platform.h"

namespace zorvak {

namespace {

class WindowsConnectivity final : public Connectivity {
public:
    bool IsOnline() override {
        DWORD flags = 0;
        return InternetGetConnectedState(&flags, 0) != FALSE;
    }
};

}  // namespace

std::unique_ptr<Connectivity> CreateConnectivity() {
    return std::make_unique<WindowsConnectivity>();
}

}  // namespace zorvak
