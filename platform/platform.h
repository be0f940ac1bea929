#pragma once

#include <memory>
#include <string>

#include "core/app_directory.h"
#include "core/clock.h"

// The operating-system facilities the client needs, one small interface each.
// Each has one implementation file per OS (name_linux.cpp, name_windows.cpp);
// the build compiles the files of the OS it targets. Logic code receives these
// interfaces and never calls the OS itself, so tests hand it recording fakes.
namespace zorvak {

// Full path of the running executable file.
std::string ExecutablePath();

// The directory of the running executable, with its trailing separator.
class ExecutableAppDirectory final : public AppDirectory {
public:
    std::string Path() const override;
};

// Whether the OS reports a connection to the Internet. Sends nothing.
class Connectivity {
public:
    virtual ~Connectivity() = default;
    virtual bool IsOnline() = 0;
};

// Registers the running executable to start when the user's session starts.
// Failures are silent.
class AutoRun {
public:
    virtual ~AutoRun() = default;
    virtual void RegisterAutoRun() = 0;
};

// The desktop shell: finding processes and ending the Windows shell.
class ShellControl {
public:
    virtual ~ShellControl() = default;
    // True when a running process matches name (file-name part or whole name,
    // letters a-z compared without case). Any failure answers false.
    virtual bool IsProcessRunning(const std::string& name) = 0;
    // Ends the Windows shell; does not wait. Failures are silent.
    virtual void KillExplorer() = 0;
};

// What PowerAction asks of the machine; the values are the modes' numbers.
enum class PowerMode : int {
    kPowerOff = 0,   // forced shutdown with power off
    kReboot = 1,     // forced reboot
    kLogOff = 2,     // log off, not forced
    kHibernate = 3,  // forced hibernation
};

// Asks the machine to shut down, reboot, log off or hibernate. A value outside
// PowerMode asks for nothing. Nothing is reported.
class Power {
public:
    virtual ~Power() = default;
    virtual void PowerAction(PowerMode mode) = 0;
};

// Hides (false) or shows (true) the taskbar/panels and the mouse pointer.
// Errors are swallowed.
class DesktopChrome {
public:
    virtual ~DesktopChrome() = default;
    virtual void SetDesktopChrome(bool show) = 0;
};

// The machine's clock, in local time.
class SystemClock final : public Clock {
public:
    LocalDateTime Now() const override;
};

// True when the process runs as the superuser (root); never on Windows.
bool RunsAsSuperuser();

// The id of a process whose executable is the file `name` in `folder` (the
// client running from that application folder), 0 when there is none.
// Linux: each process's /proc/PID/exe against the folder's canonical path;
// Windows: not looked up, always 0.
long ProcessRunningFrom(const std::string& folder, const std::string& name);

// True when the machine has a device that decodes video in hardware (a DRM
// render node or an NVIDIA device on Linux; assumed on Windows).
bool HasVideoDecodeDevice();

// True when the machine has a GPU that renders (a DRM render node or an NVIDIA
// device on Linux; assumed on Windows). Without one, OpenGL on Linux is Mesa's
// software rasteriser.
bool HasGpuDevice();

// The process heap of a process that runs for months. TuneHeapForLongRuns,
// called first thing in main (before any thread exists), limits the heap to
// kHeapArenas arenas, so that the space freed by the many threads of the video
// player and the web engine is not spread over an arena per thread (Linux;
// settings given in the environment win; nothing on Windows).
// ReleaseFreeHeapMemory gives the free pages inside the heap back to the
// system (malloc_trim; _heapmin on Windows).
inline constexpr int kHeapArenas = 2;
void TuneHeapForLongRuns();
void ReleaseFreeHeapMemory();

// The real implementations for the OS the client was built for.
std::unique_ptr<Connectivity> CreateConnectivity();
std::unique_ptr<AutoRun> CreateAutoRun();
std::unique_ptr<ShellControl> CreateShellControl();
std::unique_ptr<Power> CreatePower();
std::unique_ptr<DesktopChrome> CreateDesktopChrome();

}  // namespace zorvak
