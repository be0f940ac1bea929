#include <windows.h>
#include <tlhelp32.h>

#include <string>

#include "platform/platform.h"
#include "platform/process_name.h"

namespace zorvak {

namespace {

// The ANSI snapshot functions of the kernel library, looked up when first
// needed; null where they do not exist.
using SnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
using ProcessFn = BOOL(WINAPI*)(HANDLE, tagPROCESSENTRY32*);

struct SnapshotFunctions {
    SnapshotFn createSnapshot = nullptr;
    ProcessFn first = nullptr;
    ProcessFn next = nullptr;
};

const SnapshotFunctions& Functions() {
    static const SnapshotFunctions functions = [] {
        SnapshotFunctions f;
        if (HMODULE kernel = GetModuleHandleA("kernel32.dll")) {
            f.createSnapshot = reinterpret_cast<SnapshotFn>(
                reinterpret_cast<void*>(GetProcAddress(kernel, "CreateToolhelp32Snapshot")));
            f.first = reinterpret_cast<ProcessFn>(
                reinterpret_cast<void*>(GetProcAddress(kernel, "Process32First")));
            f.next = reinterpret_cast<ProcessFn>(
                reinterpret_cast<void*>(GetProcAddress(kernel, "Process32Next")));
        }
        return f;
    }();
    return functions;
}

class ToolhelpShellControl final : public ShellControl {
public:
    bool IsProcessRunning(const std::string& name) override {
        try {
            const SnapshotFunctions& f = Functions();
            if (!f.createSnapshot || !f.first || !f.next) return false;
            HANDLE snapshot = f.createSnapshot(2 /* processes */, 0);
            if (snapshot == INVALID_HANDLE_VALUE) return false;
            bool found = false;
            tagPROCESSENTRY32 entry = {};
            // 296 bytes in a 32-bit build; the 64-bit record is larger.
            entry.dwSize = sizeof entry;
            BOOL more = f.first(snapshot, &entry);
            while (more && !found) {
                entry.szExeFile[MAX_PATH - 1] = '\0';
                found = ProcessNameMatches(entry.szExeFile, name);
                if (!found) more = f.next(snapshot, &entry);
            }
            CloseHandle(snapshot);
            return found;
        } catch (...) {
            return false;
        }
    }

    // Forcibly ends every explorer.exe with its children; the console stays
    // open (/k) in a normal window. Does not wait.
    void KillExplorer() override {
        try {
            WinExec("cmd /k taskkill /f /im explorer.exe /t", 1);
        } catch (...) {
        }
    }
};

}  // namespace

std::unique_ptr<ShellControl> CreateShellControl() {
    return std::make_unique<ToolhelpShellControl>();
}

}  // namespace zorvak
