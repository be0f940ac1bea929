#include "playback/play_loop.h"

#include <utility>

#include "core/log.h"
#include "core/text.h"
#include "playlist/media_download.h"

namespace zorvak {

namespace {

constexpr const char* kTypeImage = "10";
constexpr const char* kTypeVideo = "20";
constexpr const char* kTypeWebPage = "30";

}  // namespace

PlayLoop::PlayLoop(Deps deps) : d_(std::move(deps)) {}

void PlayLoop::PlayOnce() {
    if (d_.flags.Quitting) return;
    d_.flags.KeepPlaying = true;
    d_.flags.RepeatList = false;
    RunPlaylist();
}

void PlayLoop::PlayInLoop() {
    if (d_.flags.Quitting) return;
    if (d_.minimise) d_.minimise();
    if (TrimBlanks(d_.settings.ReadSetting(Settings::kSection, Settings::kExplorer)) == "1" &&
        d_.shell.IsProcessRunning("explorer.exe"))
        d_.shell.KillExplorer();
    d_.flags.KeepPlaying = true;
    d_.flags.RepeatList = true;
    d_.flags.PlayActive = true;
    RunPlaylist();
}

void PlayLoop::RunPlaylist() {
    d_.flags.PlayActive = true;
    if (!d_.store.IsConnected()) {
        d_.flags.PlayActive = false;
        return;
    }
    ValidNowQuery& list = d_.store.PlayList();
    try {
        list.Close();
        list.Open();
    } catch (...) {
        d_.flags.PlayActive = false;
        return;
    }
    if (!(list.RecordCount() > 0)) {
        d_.flags.PlayActive = false;
        return;
    }

    d_.chrome.SetDesktopChrome(false);
    // The presenters' cover lasts exactly as long as the run, however it ends;
    // the taskbar and pointer come back only at the normal end below.
    d_.presenters.BeginRun();
    struct EndOfRun {
        Presenters& presenters;
        ~EndOfRun() { presenters.EndRun(); }
    } endOfRun{d_.presenters};
    list.First();
    while (!list.Eof() && d_.flags.KeepPlaying && !d_.flags.Quitting) {
        try {
            ProcessRow();
        } catch (...) {
            LogWarning(LogCategory::kPlay, "row skipped after an error: " + CurrentExceptionText());
            // The recovery itself is not guarded: an error here ends the run
            // and goes to the caller, with the chrome still hidden.
            list.Next();
            d_.pump.Pump();
            if (d_.flags.RepeatList && list.Eof()) Wrap(false);
        }
    }
    d_.chrome.SetDesktopChrome(true);
}

void PlayLoop::Wrap(bool finalPump) {
    ValidNowQuery& list = d_.store.PlayList();
    list.Close();
    list.Open();
    list.First();
    if (finalPump) d_.pump.Pump();
}

const char* ItemEndCauseName(ItemEndCause cause) {
    switch (cause) {
        case ItemEndCause::kUnknown: return "unknown";
        case ItemEndCause::kTimeUp: return "time up";
        case ItemEndCause::kKey: return "key";
        case ItemEndCause::kEscape: return "esc";
        case ItemEndCause::kStop: return "stop";
        case ItemEndCause::kError: return "error";
        case ItemEndCause::kNotShown: return "not shown";
    }
    return "unknown";
}

const char* ItemKindName(ItemKind kind) {
    switch (kind) {
        case ItemKind::kImage: return "picture";
        case ItemKind::kVideo: return "video";
        case ItemKind::kWebPage: return "web page";
    }
    return "";
}

void PlayLoop::Present(ItemKind kind, const std::string& location, int seconds,
                       MediaSource source) {
    if (LogEnabled(LogCategory::kPlay, LogLevel::kDebug)) {
        LogDebug(LogCategory::kPlay, std::string("showing ") + ItemKindName(kind) + " " + location +
                                         " for " + std::to_string(seconds) + " s" +
                                         (source == MediaSource::kOnline ? " (online)" : ""));
    }
    PlayedItem item;
    if (d_.observer != nullptr) {
        // The row on screen, read now: a nested handler may move the cursor.
        ValidNowQuery& list = d_.store.PlayList();
        item.rowId = list.FieldInteger("ID");
        item.playname = list.FieldText("playname");
        item.fileName = list.FieldText("f_filename");
        item.type = list.FieldText("f_lx");
        item.kind = kind;
        item.source = source;
        item.location = location;
        item.started = d_.store.clock().Now();
    }
    try {
        switch (kind) {
            case ItemKind::kImage: d_.presenters.ShowImage(location, seconds, source); break;
            case ItemKind::kVideo: d_.presenters.PlayVideo(location, seconds, source); break;
            case ItemKind::kWebPage: d_.presenters.ShowWebPage(location, seconds, source); break;
        }
    } catch (...) {
        if (d_.observer != nullptr) {
            item.end = {ItemEndCause::kError, CurrentExceptionText()};
            item.ended = d_.store.clock().Now();
            d_.observer->ItemPlayed(item);
        }
        throw;
    }
    if (d_.observer != nullptr) {
        item.end = d_.presenters.LastItemEnd();
        item.ended = d_.store.clock().Now();
        d_.observer->ItemPlayed(item);
    }
}

void PlayLoop::PrepareNextPicture() noexcept {
    try {
        const ValidNowQuery& list = d_.store.PlayList();
        const PlaylistRow* next = list.RowAhead();
        if (next == nullptr && d_.flags.RepeatList && !list.Eof()) next = &list.Rows().front();
        if (next == nullptr) return;
        // The same tests as the row's turn makes: a row it would skip, an
        // online item or a file still to be downloaded is not prepared.
        if (RowFieldText(*next, "f_lx") != kTypeImage) return;
        if (RowFieldText(*next, "listurl").empty()) return;
        if (RowFieldInteger(*next, "online_play") != 0) return;
        const std::string fileName = RowFieldText(*next, "f_filename");
        if (fileName.empty() || !IsAcceptableCacheName(fileName)) return;
        const std::string path = MediaCachePath(d_.appDir, fileName);
        if (!CacheFileExists(path)) return;
        d_.presenters.PreparePicture(path);
    } catch (...) {
        // A row that cannot be read now is dealt with at its turn.
    }
}

void PlayLoop::ProcessRow() {
    ValidNowQuery& list = d_.store.PlayList();

    // A skipped row pumps nothing and does not wrap.
    {
        std::string url = list.FieldText("listurl");
        std::string fileName = list.FieldText("f_filename");
        if (url.empty() || fileName.empty()) {
            list.Next();
            return;
        }
        // The name comes from the server; it becomes a path only for an item
        // played from the cache, and must then name a file inside it. An
        // online item's name never touches the disk.
        if (list.FieldInteger("online_play") == 0 && !IsAcceptableCacheName(fileName)) {
            list.Next();
            return;
        }

        // Kept for the whole row: the only value not re-read after a pump.
        // (Empty for a name the cache refuses: should a nested handler move the
        // cursor to a local row, nothing outside the cache is shown.)
        const std::string cachePath =
            IsAcceptableCacheName(fileName) ? MediaCachePath(d_.appDir, fileName) : std::string();

        if (list.FieldInteger("online_play") == 0 && !CacheFileExists(cachePath)) {
            bool skip = false;
            try {
                skip = !(d_.connectivity.IsOnline() && d_.download(fileName, url));
            } catch (...) {
                // Played all the same: the presenter finds no file and returns.
                skip = false;
            }
            if (skip) {
                list.Next();
                return;
            }
        }

        // While this item is on screen the next picture can be decoded.
        PrepareNextPicture();

        // Three tests one after the other, each reading the type afresh: a
        // nested handler may have moved the cursor while an item was shown.
        if (list.FieldText("f_lx") == kTypeVideo) {
            if (list.FieldInteger("online_play") == 0) {
                int seconds = list.FieldInteger("play_time");
                Present(ItemKind::kVideo, cachePath, seconds, MediaSource::kLocalFile);
            } else {
                std::string location = list.FieldText("listurl");
                int seconds = list.FieldInteger("play_time");
                Present(ItemKind::kVideo, location, seconds, MediaSource::kOnline);
            }
        }
        if (list.FieldText("f_lx") == kTypeImage) {
            if (list.FieldInteger("online_play") == 0) {
                int seconds = list.FieldInteger("play_time");
                Present(ItemKind::kImage, cachePath, seconds, MediaSource::kLocalFile);
            } else {
                std::string location = list.FieldText("listurl");
                int seconds = list.FieldInteger("play_time");
                Present(ItemKind::kImage, location, seconds, MediaSource::kOnline);
            }
        }
        if (list.FieldText("f_lx") == kTypeWebPage) {
            if (list.FieldInteger("online_play") != 0) {
                std::string location = list.FieldText("listurl");
                int seconds = list.FieldInteger("play_time");
                Present(ItemKind::kWebPage, location, seconds, MediaSource::kOnline);
            } else {
                // A local page is shown from its cache file, like pictures
                // and videos.
                int seconds = list.FieldInteger("play_time");
                Present(ItemKind::kWebPage, cachePath, seconds, MediaSource::kLocalFile);
            }
        }
    }

    list.Next();
    d_.pump.Pump();
    if (d_.flags.RepeatList && list.Eof()) Wrap(true);
}

}  // namespace zorvak
