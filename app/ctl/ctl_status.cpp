// zorvak-ctl status [--appdir DIR]: what an operator asks first about a
// client folder, as "field: value" lines whose names stay the same:
//
//   appdir: /opt/zorvak/
//   keyword: demo.zorvak.cn
//   auto_play: on                    (noautorun is "0")
//   restart_switch: off              (FixTimeRestart is "1")
//   restart_time: 3:00:00            (FixTime; 3:00:00 when unset)
//   explorer: 0                      (EXPLORER as stored)
//   store: open                      (or "cannot be opened"; "open, the damaged
//                                     store moved aside to PATH" when it replaced one)
//   valid_rows: 3                    (rows valid now)
//   row.<ID>: <state> <f_filename>   (each valid local row; state complete(<bytes>),
//                                     partial(<bytes>), missing or refused)
//   logo: ok                         (logo.png read as the picture window reads it:
//                                     "none" when there is no logo.png, "damaged: <why>"
//                                     with the reader's message when it cannot be read)
//   last_fetch: <time> ok|failed|skipped <outcome>, <bytes> bytes, <ms> ms    (or "none";
//                                     skipped: offline, the store closed, the HTTP client busy)
//   last_import: <time> ok|failed <rows> rows, <ms> ms[: why]         (or "none")
//   client_running: yes (pid N)      (or "no")
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QString>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "app/ctl/commands.h"
#include "core/app_directory.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "playlist/media_download.h"
#include "playlist/play_log.h"
#include "playlist/store.h"
#include "system/auto_run_control.h"
#include "system/restart_control.h"
#include "system/setting_access.h"

namespace zorvak::ctl {

namespace {

namespace fs = std::filesystem;

int BadUsage(const std::string& why) {
    std::fprintf(stderr, "zorvak-ctl status: %s\n", why.c_str());
    std::fputs("usage: zorvak-ctl status [--appdir DIR]\n", stderr);
    return 2;
}

std::string CacheState(const AppDirectory& dir, const std::string& fileName) {
    if (!IsAcceptableCacheName(fileName)) return "refused";
    const std::string path = MediaCachePath(dir, fileName);
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) {
        const auto size = fs::file_size(path, ec);
        return "complete(" + std::to_string(ec ? 0 : size) + ")";
    }
    if (fs::is_regular_file(path + ".tmp", ec)) {
        const auto size = fs::file_size(path + ".tmp", ec);
        return "partial(" + std::to_string(ec ? 0 : size) + ")";
    }
    return "missing";
}

// logo.png read exactly as the picture window reads it (ReadPictureStrictly
// in playback/presenters, which zorvak-ctl does not link: that library brings
// the windows, libmpv and the web engine): the PNG decoder alone, content
// detection off.
std::string LogoState(const AppDirectory& dir) {
    const QString path = QString::fromStdString(dir.Path() + "logo.png");
    if (!QFileInfo::exists(path)) return "none";
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    if (reader.read().isNull()) return "damaged: " + reader.errorString().toStdString();
    return "ok";
}

}  // namespace

int RunStatus(const std::vector<std::string>& args) {
    std::unique_ptr<AppDirectory> dir;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--appdir" && i + 1 >= args.size()) return BadUsage("--appdir needs a value");
        if (arg == "--appdir") dir = std::make_unique<FixedAppDirectory>(args[++i]);
        else return BadUsage("unknown argument " + arg);
    }
    if (!dir) dir = std::make_unique<ExecutableAppDirectory>();

    std::string out;
    auto line = [&out](const std::string& field, const std::string& value) {
        out += field + ": " + Escaped(value) + "\n";
    };
    line("appdir", dir->Path());

    Settings settings(*dir);
    const SettingReader read = ReaderOf(settings);
    line("keyword", read(Settings::kKeyword));
    line("auto_play", ReadAutoPlayOn(read) ? "on" : "off");
    line("restart_switch", ReadRestartOn(read) ? "on" : "off");
    const std::string restartTime = read(Settings::kRestartTime);
    line("restart_time", restartTime == "0" ? "3:00:00" : restartTime);
    line("explorer", read(Settings::kExplorer));

    SystemClock clock;
    PlaylistStore store(*dir, clock);
    store.ConnectDatabase();
    if (!store.IsConnected()) {
        line("store", "cannot be opened");
        line("valid_rows", "0");
    } else {
        line("store", store.MovedAside().empty()
                          ? "open"
                          : "open, the damaged store moved aside to " + store.MovedAside());
        ValidNowQuery& query = store.PlayList();
        try {
            query.Open();
            line("valid_rows", std::to_string(query.RecordCount()));
            for (query.First(); !query.Eof(); query.Next()) {
                if (query.FieldInteger("online_play") != 0) continue;
                const std::string name = query.FieldText("f_filename");
                out += "row." + query.FieldText("ID") + ": " + CacheState(*dir, name) + " " +
                       Escaped(name) + "\n";
            }
        } catch (const std::exception& e) {
            line("valid_rows", std::string("cannot be read: ") + e.what());
        }
    }

    line("logo", LogoState(*dir));

    const PlayLogReading log = ReadPlayLog(dir->Path() + PlayLog::kFileName, std::nullopt);
    if (log.lastFetch) {
        const SyncRecord& f = *log.lastFetch;
        line("last_fetch", f.at + " " + (f.ok ? "ok " : f.skipped ? "skipped " : "failed ") +
                               f.outcome + ", " + std::to_string(f.bytes) + " bytes, " +
                               std::to_string(f.ms) + " ms");
    } else {
        line("last_fetch", "none");
    }
    if (log.lastImport) {
        const SyncRecord& i = *log.lastImport;
        std::string value = i.at + " " + (i.ok ? "ok " : "failed ") + std::to_string(i.rows) +
                            " rows, " + std::to_string(i.ms) + " ms";
        if (!i.detail.empty()) value += ": " + i.detail;
        line("last_import", value);
    } else {
        line("last_import", "none");
    }

    const long pid = ProcessRunningFrom(dir->Path(), "zorvak-client");
    line("client_running", pid != 0 ? "yes (pid " + std::to_string(pid) + ")" : "no");

    std::fwrite(out.data(), 1, out.size(), stdout);
    if (std::fflush(stdout) != 0) {
        std::fputs("zorvak-ctl status: cannot write the status\n", stderr);
        return 1;
    }
    return 0;
}

}  // namespace zorvak::ctl
