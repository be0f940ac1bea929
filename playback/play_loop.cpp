#include "playback/play_loop.h"

#include <utility>

#include <algorithm>

#include "core/log.h"
#include "core/text.h"
#include "playlist/media_download.h"
#include "playlist/media_prefetch.h"

namespace zorvak {

namespace {

constexpr const char* kTypeImage = "10";
constexpr const char* kTypeVideo = "20";
constexpr const char* kTypeWebPage = "30";

// An item on screen, as opposed to one that returned at once or failed.
bool WasShown(const ItemEnd& end) {
    return end.cause != ItemEndCause::kNotShown && end.cause != ItemEndCause::kError;
}

}  // namespace

PlayLoop::PlayLoop(Deps deps)
    : d_(std::move(deps)),
      clock_(d_.clock != nullptr ? *d_.clock : SteadyMonotonicClock::Instance()) {}

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
    emptyPasses_ = 0;
    Pass pass;
    while (!list.Eof() && d_.flags.KeepPlaying && !d_.flags.Quitting) {
        try {
            ProcessRow(pass);
        } catch (...) {
            LogWarning(LogCategory::kPlay, "row skipped after an error: " + CurrentExceptionText());
            // The recovery itself is not guarded: an error here ends the run
            // and goes to the caller, with the chrome still hidden.
            EndOfRow(pass, true, false);
        }
    }
    d_.chrome.SetDesktopChrome(true);
}

void PlayLoop::EndOfRow(Pass& pass, bool pumpAfter, bool pumpAtWrap) {
    ValidNowQuery& list = d_.store.PlayList();
    list.Next();
    if (pumpAfter) d_.pump.Pump();
    if (!(d_.flags.RepeatList && list.Eof())) return;
    if (!pass.shown) {
        WaitBeforeNextPass(pass);
        // Esc, stop or quit during the wait: the run ends without a wrap.
        if (!d_.flags.KeepPlaying || d_.flags.Quitting) return;
    }
    // Rows not met in this pass are forgotten.
    for (auto it = notShown_.begin(); it != notShown_.end();) {
        if (!it->second.seen) {
            it = notShown_.erase(it);
        } else {
            it->second.seen = false;
            ++it;
        }
    }
    pass = {};
    Wrap(pumpAtWrap);
}

void PlayLoop::WaitBeforeNextPass(const Pass& pass) {
    if (!d_.flags.KeepPlaying || d_.flags.Quitting) return;
    ++emptyPasses_;
    const std::chrono::seconds delay = RepeatDelay(emptyPasses_);
    LogInfo(LogCategory::kPlay, "no item could be shown in this pass (" +
                                    std::to_string(emptyPasses_) +
                                    " in a row); the next pass in " +
                                    std::to_string(delay.count()) + " s");
    const MonotonicClock::time_point deadline = clock_.Now() + delay;
    while (d_.flags.KeepPlaying && !d_.flags.Quitting) {
        const MonotonicClock::time_point now = clock_.Now();
        if (now >= deadline) return;
        d_.pump.WaitFor(std::min(
            std::chrono::ceil<std::chrono::milliseconds>(deadline - now), kWaitSlice));
        // A file the pass skipped has arrived: it is shown now.
        for (const std::string& path : pass.awaited)
            if (CacheFileExists(path)) return;
    }
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

bool PlayLoop::Present(const Row& row, ItemKind kind, const std::string& location,
                       MediaSource source) {
    if (LogEnabled(LogCategory::kPlay, LogLevel::kDebug)) {
        LogDebug(LogCategory::kPlay, std::string("showing ") + ItemKindName(kind) + " " + location +
                                         " for " + std::to_string(row.seconds) + " s" +
                                         (source == MediaSource::kOnline ? " (online)" : ""));
    }
    PlayedItem item = ItemOf(row, kind, location, source);
    try {
        switch (kind) {
            case ItemKind::kImage: d_.presenters.ShowImage(location, row.seconds, source); break;
            case ItemKind::kVideo: d_.presenters.PlayVideo(location, row.seconds, source); break;
            case ItemKind::kWebPage: d_.presenters.ShowWebPage(location, row.seconds, source); break;
        }
    } catch (...) {
        if (d_.observer != nullptr) {
            item.end = {ItemEndCause::kError, CurrentExceptionText()};
            item.ended = d_.store.clock().Now();
            d_.observer->ItemPlayed(item);
        }
        throw;
    }
    item.end = d_.presenters.LastItemEnd();
    item.ended = d_.store.clock().Now();
    const bool shown = WasShown(item.end);
    if (shown) {
        emptyPasses_ = 0;
        notShown_.erase(RepeatsKey(item));
        if (d_.observer != nullptr) d_.observer->ItemPlayed(item);
    } else {
        TellNotShown(std::move(item));
    }
    return shown;
}

PlayedItem PlayLoop::ItemOf(const Row& row, ItemKind kind, const std::string& location,
                            MediaSource source) const {
    PlayedItem item;
    item.rowId = row.id;
    item.playname = row.playname;
    item.fileName = row.fileName;
    item.type = row.type;
    item.kind = kind;
    item.source = source;
    item.location = location;
    item.started = d_.store.clock().Now();
    return item;
}

std::string PlayLoop::RepeatsKey(const PlayedItem& item) {
    return std::to_string(item.rowId) + "\n" + item.fileName;
}

void PlayLoop::TellNotShown(PlayedItem item) {
    NotShownRepeats& repeats = notShown_[RepeatsKey(item)];
    repeats.seen = true;
    const MonotonicClock::time_point now = clock_.Now();
    if (repeats.told > 0 && now < repeats.nextAt) {
        ++repeats.since;
        return;
    }
    if (repeats.since > 0) {
        item.end.detail += (item.end.detail.empty() ? "" : " ") + std::string("(not shown ") +
                           std::to_string(repeats.since + 1) + " times since the last record)";
    }
    ++repeats.told;
    repeats.since = 0;
    repeats.nextAt = now + RepeatDelay(repeats.told);
    if (d_.observer != nullptr) d_.observer->ItemPlayed(item);
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

void PlayLoop::ProcessRow(Pass& pass) {
    ValidNowQuery& list = d_.store.PlayList();

    // The row's fields, read once: everything below uses these values, even
    // when a nested handler moves the cursor or makes the selection afresh.
    Row row;
    row.url = list.FieldText("listurl");
    row.fileName = list.FieldText("f_filename");
    // A skipped row pumps nothing; past the last one a loop run wraps.
    if (row.url.empty() || row.fileName.empty()) {
        EndOfRow(pass, false, true);
        return;
    }
    row.online = list.FieldInteger("online_play");
    // The name comes from the server; it becomes a path only for an item
    // played from the cache, and must then name a file inside it. An online
    // item's name never touches the disk.
    if (row.online == 0 && !IsAcceptableCacheName(row.fileName)) {
        EndOfRow(pass, false, true);
        return;
    }
    row.type = list.FieldText("f_lx");
    row.id = list.FieldInteger("ID");
    row.playname = list.FieldText("playname");
    const bool known = row.type == kTypeImage || row.type == kTypeVideo || row.type == kTypeWebPage;
    if (known) row.seconds = list.FieldInteger("play_time");
    const ItemKind kind = row.type == kTypeVideo     ? ItemKind::kVideo
                          : row.type == kTypeWebPage ? ItemKind::kWebPage
                                                     : ItemKind::kImage;
    const std::string cachePath = row.online == 0 ? MediaCachePath(d_.appDir, row.fileName) : "";

    if (row.online == 0 && !CacheFileExists(cachePath)) {
        bool skip = false;
        std::string reason;  // recorded as not shown when the row is skipped
        if (!d_.connectivity.IsOnline()) {
            skip = true;
            reason = "offline and the file is not in the cache";
        } else {
            try {
                skip = !d_.download(row.fileName, row.url);
            } catch (const MediaNotReady& e) {
                skip = true;
                reason = e.what();
                if (pass.awaited.size() < kAwaitedChecked) pass.awaited.push_back(cachePath);
            } catch (...) {
                // Played all the same: the presenter finds no file and returns.
                skip = false;
            }
        }
        if (skip) {
            if (!reason.empty()) {
                PlayedItem item = ItemOf(row, kind, cachePath, MediaSource::kLocalFile);
                item.ended = item.started;
                item.end = {ItemEndCause::kNotShown, reason};
                TellNotShown(std::move(item));
            }
            EndOfRow(pass, false, true);
            return;
        }
    }

    // While this item is on screen the next picture can be decoded.
    PrepareNextPicture();

    // An unknown type shows nothing but counts as played.
    if (known) {
        const MediaSource source = row.online == 0 ? MediaSource::kLocalFile : MediaSource::kOnline;
        // A local item (a local page too) is shown from its cache file.
        if (Present(row, kind, row.online == 0 ? cachePath : row.url, source)) pass.shown = true;
    }
    EndOfRow(pass, true, true);
}

}  // namespace zorvak
