#include "playlist/media_prefetch.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <optional>
#include <set>

namespace zorvak {

// One FetchNow() waiting for its file.
struct MediaPrefetch::Waiter {
    std::string fileName;
    std::optional<DownloadResult> result;
    QEventLoop* loop = nullptr;
};

MediaPrefetch::MediaPrefetch(const AppDirectory& dir, Connectivity& connectivity,
                             HttpLimits limits, MonotonicClock& clock)
    : dir_(dir), fetch_(dir, connectivity, limits, clock) {}

MediaPrefetch::~MediaPrefetch() {
    // A download under way is dropped; what arrived stays in its partial file.
    fetch_.Cancel();
}

void MediaPrefetch::SetAbandonWhen(std::function<bool()> abandon) {
    abandon_ = abandon;
    fetch_.SetAbandonWhen(std::move(abandon));
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
    for (const MediaItem& item : items) {
        if (!IsAcceptableCacheName(item.fileName) || item.url.empty()) continue;
        if (!seen.insert(item.fileName).second) continue;
        if (item.fileName == current_.fileName) continue;
        if (CacheFileExists(MediaCachePath(dir_, item.fileName))) continue;
        queue_.push_back(item);
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
    Resolve(fileName, result);
    if (finished_) finished_(fileName, result);
    StartNext();
}

DownloadResult MediaPrefetch::FetchNow(const std::string& fileName, const std::string& url,
                                       const std::function<bool()>& giveUp) {
    if (!IsAcceptableCacheName(fileName)) return {};
    if (current_.fileName != fileName) {
        // Ahead of everything waiting: the loop shows it next.
        queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                    [&](const MediaItem& item) { return item.fileName == fileName; }),
                     queue_.end());
        queue_.push_front(MediaItem{fileName, url});
        if (!fetch_.Busy()) {
            StartNext();
            if (current_.fileName != fileName) {
                // Nothing started: the file is there already (or the queue
                // was stopped for good).
                if (CacheFileExists(MediaCachePath(dir_, fileName)))
                    return DownloadResult{DownloadResult::Kind::kDone, {}};
                return DownloadResult{DownloadResult::Kind::kGaveUp, {}};
            }
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

    while (!waiter.result) {
        if (giveUp && giveUp()) return DownloadResult{DownloadResult::Kind::kGaveUp, {}};
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
        case DownloadResult::Kind::kNothing:
        case DownloadResult::Kind::kGaveUp:
            break;
    }
    return false;
}

}  // namespace zorvak
