#include <windows.h>
#include <tlhelp32.h>

#include <string>

#include "platform/platform_windows.h"
#include "platform/process_name.h"

namespace zorvak {

namespace {

// The snapshot functions of the kernel library, looked up when first needed;
// null where they do not exist.
using SnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
using ProcessFn = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32W*);

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
                reinterpret_cast<void*>(GetProcAddress(kernel, "Process32FirstW")));
            f.next = reinterpret_cast<ProcessFn>(
                reinterpret_cast<void*>(GetProcAddress(kernel, "Process32NextW")));
        }
        return f;
    }();
    return functions;
}

}  // namespace

bool ToolhelpShellControl::IsProcessRunning(const std::string& name) {
    try {
        const SnapshotFunctions& f = Functions();
        if (!f.createSnapshot || !f.first || !f.next) return false;
        HANDLE snapshot = f.createSnapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE) return false;
        bool found = false;
        PROCESSENTRY32W entry = {};
        // The size of the record this build passes (Process32FirstW refuses any
        // other): the UTF-16 entry, so that every name arrives whole rather
        // than in the ANSI code page.
        entry.dwSize = sizeof entry;
        BOOL more = f.first(snapshot, &entry);
        while (more && !found) {
            entry.szExeFile[MAX_PATH - 1] = L'\0';
            found = ProcessNameMatches(Utf8FromWide(entry.szExeFile), name);
            if (!found) more = f.next(snapshot, &entry);
        }
        CloseHandle(snapshot);
        return found;
    } catch (...) {
        return false;
    }
}

// Forcibly ends every explorer.exe with its children; the console stays open
// (/k) in a normal window. Does not wait.
void ToolhelpShellControl::KillExplorer() {
    try {
        winExec_(kKillExplorerCommand, kKillExplorerShow);
    } catch (...) {
    }
}

std::unique_ptr<ShellControl> CreateShellControl() {
    return std::make_unique<ToolhelpShellControl>();
}

}  // namespace zorvak
