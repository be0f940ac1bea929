#include "playlist/media_prefetch.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <optional>
#include <set>

#include "core/log.h"

namespace zorvak {

std::chrono::seconds RepeatDelay(int times) {
    constexpr std::chrono::seconds kFirst{1}, kLongest{60};
    if (times <= 1) return kFirst;
    if (times > 7) return kLongest;  // 2^6 s is past the longest already
    return std::min(kFirst * (1 << (times - 1)), kLongest);
}

namespace {

std::string Seconds(MonotonicClock::duration d) {
    return std::to_string(std::chrono::ceil<std::chrono::seconds>(d).count()) + " s";
}

// FetchNow's answer when the run does not wait: the reason in error.
DownloadResult NotWaited(std::string reason) {
    return DownloadResult{DownloadResult::Kind::kGaveUp, std::move(reason)};
}

}  // namespace

// One FetchNow() waiting for its file.
struct MediaPrefetch::Waiter {
    std::string fileName;
    std::optional<DownloadResult> result;
    QEventLoop* loop = nullptr;
};

MediaPrefetch::MediaPrefetch(const AppDirectory& dir, Connectivity& connectivity,
                             HttpLimits limits, MonotonicClock& clock)
    : dir_(dir), clock_(clock), fetch_(dir, connectivity, limits, clock) {}

MediaPrefetch::~MediaPrefetch() {
    // A download under way is dropped; what arrived stays in its partial file.
    fetch_.Cancel();
}

void MediaPrefetch::SetAbandonWhen(std::function<bool()> abandon) {
    abandon_ = abandon;
    fetch_.SetAbandonWhen(std::move(abandon));
}

int MediaPrefetch::Failures(const std::string& fileName) const {
    auto it = files_.find(fileName);
    return it == files_.end() ? 0 : it->second.failures;
}

bool MediaPrefetch::WaitsForRetry(const std::string& fileName,
                                  MonotonicClock::time_point now) const {
    auto it = files_.find(fileName);
    return it != files_.end() && it->second.failures > 0 && now < it->second.retryAt;
}

void MediaPrefetch::Schedule(const std::vector<MediaItem>& items) {
    // Files a run waits for stay ahead of everything.
    std::deque<MediaItem> awaited;
    for (MediaItem& item : queue_) {
        for (const Waiter* waiter : waiters_)
            if (!waiter->result && waiter->fileName == item.fileName) {
                awaited.push_back(std::move(item));
                break;
            }
    }
    queue_ = std::move(awaited);
    std::set<std::string> seen;
    for (const MediaItem& item : queue_) seen.insert(item.fileName);
    const MonotonicClock::time_point now = clock_.Now();
    std::set<std::string> listed;
    for (const MediaItem& item : items) {
        listed.insert(item.fileName);
        if (!IsAcceptableCacheName(item.fileName) || item.url.empty()) continue;
        if (!seen.insert(item.fileName).second) continue;
        if (item.fileName == current_.fileName) continue;
        if (WaitsForRetry(item.fileName, now)) continue;
        if (CacheFileExists(MediaCachePath(dir_, item.fileName))) continue;
        queue_.push_back(item);
    }
    // Only the files of the playlist are remembered, so the map stays small.
    for (auto it = files_.begin(); it != files_.end();) {
        const bool keep = listed.count(it->first) || it->first == current_.fileName ||
                          std::any_of(waiters_.begin(), waiters_.end(), [&](const Waiter* w) {
                              return w->fileName == it->first;
                          });
        it = keep ? std::next(it) : files_.erase(it);
    }
    StartNextLater();
}

void MediaPrefetch::StartNextLater() {
    if (startPosted_ || fetch_.Busy() || queue_.empty()) return;
    startPosted_ = true;
    std::weak_ptr<int> alive = alive_;
    QTimer::singleShot(0, QCoreApplication::instance(), [this, alive] {
        if (alive.expired()) return;
        startPosted_ = false;
        StartNext();
    });
}

void MediaPrefetch::StartNext() {
    if (fetch_.Busy()) return;
    while (!queue_.empty()) {
        MediaItem item = std::move(queue_.front());
        queue_.pop_front();
        // Fetched meanwhile (by FetchNow's turn, or another run).
        if (CacheFileExists(MediaCachePath(dir_, item.fileName))) {
            Resolve(item.fileName, DownloadResult{DownloadResult::Kind::kDone, {}});
            continue;
        }
        if (Abandoned()) {
            for (const MediaItem& dropped : queue_)
                Resolve(dropped.fileName, DownloadResult{DownloadResult::Kind::kGaveUp, {}});
            Resolve(item.fileName, DownloadResult{DownloadResult::Kind::kGaveUp, {}});
            queue_.clear();
            return;
        }
        current_ = std::move(item);
        fetch_.Start(current_.fileName, current_.url,
                     [this](const DownloadResult& result) { Ended(result); });
        return;
    }
}

void MediaPrefetch::Resolve(const std::string& fileName, const DownloadResult& result) {
    for (Waiter* waiter : waiters_) {
        if (waiter->fileName == fileName && !waiter->result) {
            waiter->result = result;
            if (waiter->loop) waiter->loop->quit();
        }
    }
}

void MediaPrefetch::Ended(const DownloadResult& result) {
    const std::string fileName = std::move(current_.fileName);
    current_ = {};
    if (result.kind == DownloadResult::Kind::kDone) {
        files_.erase(fileName);
    } else if (result.kind == DownloadResult::Kind::kFailed) {
        FileState& state = files_[fileName];
        ++state.failures;
        const std::chrono::seconds delay = RepeatDelay(state.failures);
        state.retryAt = clock_.Now() + delay;
        state.error = result.error;
        state.waited = {};
        // The download's own line says each failure; this one counts them.
        if (state.failures > 1) {
            LogInfo(LogCategory::kDownload, fileName + " failed again (" +
                                                std::to_string(state.failures) +
                                                " times), next try in " + Seconds(delay));
        }
    } else if (auto it = files_.find(fileName); it != files_.end()) {
        it->second.waited = {};
    }
    Resolve(fileName, result);
    if (finished_) finished_(fileName, result);
    StartNext();
}

void MediaPrefetch::PutFirst(const std::string& fileName, const std::string& url) {
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [&](const MediaItem& item) { return item.fileName == fileName; }),
                 queue_.end());
    queue_.push_front(MediaItem{fileName, url});
    if (!fetch_.Busy()) StartNext();
}

DownloadResult MediaPrefetch::FetchNow(const std::string& fileName, const std::string& url,
                                       const std::function<bool()>& giveUp) {
    if (!IsAcceptableCacheName(fileName)) return {};
    const MonotonicClock::time_point start = clock_.Now();
    if (auto it = files_.find(fileName); it != files_.end() && it->second.failures > 0) {
        // The run does not wait for a file that failed: its retry runs in
        // the background, and the run shows it once it is complete.
        const FileState& state = it->second;
        std::string reason = "download failed " + std::to_string(state.failures) +
                             (state.failures == 1 ? " time" : " times") + ": " + state.error;
        if (current_.fileName == fileName) return NotWaited(reason + "; retrying");
        if (start < state.retryAt)
            return NotWaited(reason + "; next try in " + Seconds(state.retryAt - start));
        PutFirst(fileName, url);
        if (CacheFileExists(MediaCachePath(dir_, fileName)))
            return DownloadResult{DownloadResult::Kind::kDone, {}};
        return NotWaited(reason + "; retrying");
    }
    const auto known = files_.find(fileName);
    const MonotonicClock::duration waitedBefore =
        known != files_.end() ? known->second.waited : MonotonicClock::duration{};
    auto limitReached = [] {
        return NotWaited("not complete after " + Seconds(kRunWaitLimit) +
                         " of waiting; the download goes on");
    };
    if (waitedBefore >= kRunWaitLimit) {
        if (CacheFileExists(MediaCachePath(dir_, fileName)))
            return DownloadResult{DownloadResult::Kind::kDone, {}};
        return limitReached();
    }
    if (current_.fileName != fileName) {
        // Ahead of everything waiting: the loop shows it next.
        PutFirst(fileName, url);
        if (current_.fileName != fileName) {
            if (CacheFileExists(MediaCachePath(dir_, fileName)))
                return DownloadResult{DownloadResult::Kind::kDone, {}};
            // Nothing started: the queue was stopped for good, or another
            // download runs first.
            if (!fetch_.Busy()) return DownloadResult{DownloadResult::Kind::kGaveUp, {}};
        }
    }

    Waiter waiter;
    waiter.fileName = fileName;
    waiters_.push_back(&waiter);
    struct Unlist {
        std::vector<Waiter*>& waiters;
        Waiter* waiter;
        ~Unlist() { waiters.erase(std::find(waiters.begin(), waiters.end(), waiter)); }
    } unlist{waiters_, &waiter};
    // The time this wait took, added to the file's when it ends unresolved.
    auto note = [&] {
        if (!waiter.result) files_[fileName].waited += clock_.Now() - start;
    };

    while (!waiter.result) {
        if (giveUp && giveUp()) {
            note();
            return DownloadResult{DownloadResult::Kind::kGaveUp, {}};
        }
        if (waitedBefore + (clock_.Now() - start) >= kRunWaitLimit) {
            note();
            return limitReached();
        }
        // Serves every event until the download ends or the interval passes.
        QEventLoop loop;
        waiter.loop = &loop;
        QTimer::singleShot(static_cast<int>(HttpClient::kPumpInterval.count()), &loop,
                           &QEventLoop::quit);
        loop.exec();
        waiter.loop = nullptr;
    }
    return *waiter.result;
}

bool MediaPrefetch::DownloadForRun(const std::string& fileName, const std::string& url,
                                   const std::function<bool()>& giveUp,
                                   const ShowMessageFn& showMessage) {
    const DownloadResult result = FetchNow(fileName, url, giveUp);
    switch (result.kind) {
        case DownloadResult::Kind::kDone:
            return true;
        case DownloadResult::Kind::kHeld:
            if (showMessage) showMessage(result.error);
            return true;
        case DownloadResult::Kind::kFailed:
            throw DownloadError(result.error);
        case DownloadResult::Kind::kGaveUp:
            if (!result.error.empty()) throw MediaNotReady(result.error);
            break;
        case DownloadResult::Kind::kNothing:
            break;
    }
    return false;
}

}  // namespace zorvak
