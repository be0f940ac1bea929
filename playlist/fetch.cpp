#include "playlist/fetch.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "core/log.h"
#include "core/text.h"
#include "core/text_encoding.h"
#include "playlist/playlist_document.h"

namespace zorvak {

std::optional<std::string> Utf8ToAnsiInPieces(std::string_view utf8,
                                              const std::function<void()>& serve) {
    if (!serve) return Utf8ToAnsi(utf8);
    constexpr std::size_t kPiece = 512 * 1024;
    std::string ansi;
    ansi.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        std::size_t end = std::min(utf8.size(), pos + kPiece);
        // Never between the bytes of one character: back to the byte that
        // starts it (at most three continuation bytes).
        for (int back = 0; back < 3 && end < utf8.size() && end > pos &&
                           (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80;
             ++back)
            --end;
        std::optional<std::string> piece = Utf8ToAnsi(utf8.substr(pos, end - pos));
        if (!piece) return std::nullopt;
        ansi += *piece;
        pos = end;
        if (pos < utf8.size()) serve();
    }
    return ansi;
}

HttpRequest PlaylistRequest(const std::string& url) {
    HttpRequest request;
    request.url = url;
    request.followRedirects = true;
    request.userAgent = kFetchUserAgent;
    request.timeLimit = kFetchTimeLimit;
    return request;
}

PlaylistText GetPlaylistText(HttpClient& client, const std::string& url,
                             const std::function<void()>& serve) noexcept {
    PlaylistText text;
    try {
        HttpResponse r = client.Send(PlaylistRequest(url));
        if (!r.ok()) {
            text.failure = r.failure;
            text.error = r.error;
            return text;
        }
        std::optional<std::string> ansi = Utf8ToAnsiInPieces(r.body, serve);
        if (!ansi) {
            text.notUtf8 = true;
            text.error = "the answer is not valid UTF-8";
            return text;
        }
        text.ansi = std::move(*ansi);
        text.utf8 = std::move(r.body);
    } catch (...) {
        text = PlaylistText{};
        text.failure = HttpFailure::kTransfer;
        text.error = "out of memory";
    }
    return text;
}

std::string PlaylistServerAddress() {
    const char* env = std::getenv("ZORVAK_PLAYLIST_SERVER");
    if (env && !TrimBlanks(env).empty()) return TrimBlanks(env);
    return ZORVAK_PLAYLIST_SERVER_DEFAULT;
}

std::string EncodeKeywordForUrl(std::string_view ansiKeyword) {
    static const char* kHex = "0123456789ABCDEF";
    std::string out;
    out.reserve(ansiKeyword.size());
    for (char ch : ansiKeyword) {
        auto byte = static_cast<unsigned char>(ch);
        if (byte <= 0x20 || byte == 0x7F || byte == '#') {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string PlaylistUrl(const std::string& server, const std::string& keyword) {
    std::optional<std::string> ansi = Utf8ToAnsi(keyword);
    return "http://" + server + "/getplaylist.php?hostname=" +
           EncodeKeywordForUrl(ansi ? *ansi : keyword);
}

std::string DescribeFetch(const FetchResult& result) {
    switch (result.outcome) {
        case FetchOutcome::kOffline: return "offline: no Internet connection reported";
        case FetchOutcome::kStoreClosed: return "the playlist store is not open";
        case FetchOutcome::kOfflineAfterSave: return "offline: the connection went away";
        case FetchOutcome::kBusy: return "the HTTP client is busy with another request";
        case FetchOutcome::kNoAnswer: return "no answer: " + result.detail;
        case FetchOutcome::kNotUtf8: return "the answer is not valid UTF-8";
        case FetchOutcome::kBlankAnswer: return "the answer is blank";
        case FetchOutcome::kUnchanged: return "the playlist has not changed";
        case FetchOutcome::kImported: return "imported";
        case FetchOutcome::kImportFailed: {
            std::string text = result.importStoreFault
                                   ? "the store could not save the playlist"
                                   : "the answer is not a playlist document the store accepts";
            if (!result.importError.empty()) text += ": " + result.importError;
            return text;
        }
    }
    return "";
}

bool FetchSkipped(FetchOutcome outcome) {
    return outcome == FetchOutcome::kOffline || outcome == FetchOutcome::kStoreClosed ||
           outcome == FetchOutcome::kOfflineAfterSave || outcome == FetchOutcome::kBusy;
}

bool FetchFailed(FetchOutcome outcome) {
    return outcome == FetchOutcome::kNoAnswer || outcome == FetchOutcome::kNotUtf8 ||
           outcome == FetchOutcome::kImportFailed;
}

// What the worker makes of an answer.
struct PlaylistFetch::Prepared {
    // In: the answer and what it is compared with.
    std::string utf8;
    std::string memo;
    bool show = false;  // the memo shows or compares the answer
    std::string_view lastImported;
    bool replaced = false;
    // Out.
    bool notUtf8 = false;
    bool blank = false;
    bool unchanged = false;
    std::string ansi;
    std::string shown;  // the answer as the memo shows it ("" when not shown)
    PreparedImport rows;
    std::exception_ptr error;
};

namespace {

// The worker's part of a fetch: the conversions, the comparison and the rows,
// touching nothing but p.
void PrepareAnswer(PlaylistFetch::Prepared& p) noexcept {
    try {
        std::optional<std::string> ansi = Utf8ToAnsi(p.utf8);
        if (!ansi) {
            p.notUtf8 = true;
            return;
        }
        p.ansi = std::move(*ansi);
        if (TrimBlanksView(p.ansi).empty()) {
            p.blank = true;
            return;
        }
        // The memo shows the ANSI text as Unicode; blanks and control
        // characters are single bytes in both, so trimming either side trims
        // the same text. A blank memo differs from any answer; the Unicode
        // text is made only when it is compared or shown.
        if (p.show) p.shown = AnsiToUtf8(p.ansi);
        // Unchanged: the memo shows the answer and the store holds it (the
        // last text imported is the answer). A refused import is tried again
        // by the next answer, and a store replaced since its last import is
        // filled even by the answer the memo shows.
        p.unchanged = !TrimBlanksView(p.memo).empty() &&
                      TrimBlanksView(p.memo) == TrimBlanksView(p.shown) &&
                      TrimBlanksView(p.ansi) == TrimBlanksView(p.lastImported) && !p.replaced;
        if (!p.unchanged) p.rows = PreparePlaylistImport(p.ansi, p.utf8);
    } catch (...) {
        p.error = std::current_exception();
    }
}

}  // namespace

PlaylistFetch::PlaylistFetch(Connectivity& connectivity, const Settings& settings,
                             PlaylistStore& store, HttpClient& client, Window window,
                             std::string server)
    : connectivity_(connectivity),
      settings_(settings),
      store_(store),
      client_(client),
      window_(std::move(window)),
      server_(std::move(server)),
      context_(std::make_unique<QObject>()) {}

PlaylistFetch::~PlaylistFetch() {
    if (busy_ && !worker_.joinable()) client_.Cancel();
    if (worker_.joinable()) worker_.join();
    context_.reset();
}

void PlaylistFetch::Report(FetchResult& result, const LogStopwatch& stopwatch) {
    result.ms = stopwatch.ElapsedMs();
    const bool failed = FetchFailed(result.outcome);
    const char* ended = failed ? "failed" : FetchSkipped(result.outcome) ? "skipped" : "done";
    std::string line = "fetch " + std::string(ended) + ": " +
                       DescribeFetch(result) + ", " + std::to_string(result.bytes) + " bytes, " +
                       std::to_string(result.ms) + " ms";
    if (!result.url.empty()) line += " (" + result.url + ")";
    Log(LogCategory::kFetch, failed ? LogLevel::kWarning : LogLevel::kInfo, line);
    if (listener_) {
        try {
            listener_(result);
        } catch (...) {
            LogWarning(LogCategory::kFetch,
                       "recording the fetch failed: " + CurrentExceptionText());
        }
    }
}

void PlaylistFetch::Start(Done done) {
    const LogStopwatch stopwatch;
    // A fetch that stops before its request; a fetch under way is left alone.
    const auto stop = [&](FetchOutcome outcome, std::string url = {}) {
        FetchResult result;
        result.outcome = outcome;
        result.url = std::move(url);
        if (outcome == FetchOutcome::kBusy) result.detail = "a playlist fetch is under way";
        Report(result, stopwatch);
        if (done) done(result, nullptr);
    };
    if (!connectivity_.IsOnline()) return stop(FetchOutcome::kOffline);
    const std::string keyword = window_.keywordText ? window_.keywordText() : std::string();
    if (!TrimBlanksView(keyword).empty())
        settings_.WriteSetting(Settings::kSection, Settings::kKeyword, keyword);
    if (!store_.IsConnected()) return stop(FetchOutcome::kStoreClosed);
    if (!connectivity_.IsOnline()) return stop(FetchOutcome::kOfflineAfterSave);
    std::string url = PlaylistUrl(server_, keyword);
    if (busy_) return stop(FetchOutcome::kBusy, std::move(url));
    busy_ = true;
    stopwatch_ = stopwatch;
    current_ = FetchResult{};
    current_.url = std::move(url);
    done_ = std::move(done);
    client_.Start(PlaylistRequest(current_.url),
                  [this](HttpResponse response) { OnAnswer(std::move(response)); });
}

void PlaylistFetch::OnAnswer(HttpResponse response) {
    if (!response.ok()) {
        current_.outcome = response.failure == HttpFailure::kBusy ? FetchOutcome::kBusy
                                                                  : FetchOutcome::kNoAnswer;
        current_.detail = std::move(response.error);
        return Finish();
    }
    auto prepared = std::make_shared<Prepared>();
    try {
        current_.bytes = response.body.size();
        prepared->utf8 = std::move(response.body);
        prepared->memo = window_.memoText ? window_.memoText() : std::string();
        prepared->show = !TrimBlanksView(prepared->memo).empty() || window_.setMemoText;
        // Written only by OnPrepared, which runs after the worker ends.
        prepared->lastImported = lastImported_;
        prepared->replaced = store_.ReplacedSinceImport();
        if (worker_.joinable()) worker_.join();
        QObject* context = context_.get();
        worker_ = std::thread([this, prepared, context] {
            PrepareAnswer(*prepared);
            QMetaObject::invokeMethod(
                context, [this, prepared] { OnPrepared(prepared); }, Qt::QueuedConnection);
        });
    } catch (...) {
        current_.outcome = FetchOutcome::kNoAnswer;
        current_.detail = CurrentExceptionText();
        Finish(std::current_exception());
    }
}

void PlaylistFetch::OnPrepared(std::shared_ptr<Prepared> prepared) {
    // The worker posted this as its last act.
    worker_.join();
    Prepared& p = *prepared;
    if (p.error) {
        current_.outcome = FetchOutcome::kNoAnswer;
        current_.detail = "the answer could not be read";
        return Finish(p.error);
    }
    if (p.notUtf8) {
        current_.outcome = FetchOutcome::kNotUtf8;
        return Finish();
    }
    if (p.blank) {
        current_.outcome = FetchOutcome::kBlankAnswer;
        return Finish();
    }
    if (p.unchanged) {
        current_.outcome = FetchOutcome::kUnchanged;
        return Finish();
    }
    try {
        if (window_.setMemoText) {
            p.shown += '\n';
            window_.setMemoText(p.shown);
            p.shown = std::string();  // the memo has its copy
        }
    } catch (...) {
        current_.outcome = FetchOutcome::kImportFailed;
        return Finish(std::current_exception());
    }
    // The memo shows the answer; the commit follows with no event served
    // between them.
    current_.outcome = store_.CommitImport(p.rows) ? FetchOutcome::kImported
                                                   : FetchOutcome::kImportFailed;
    const PlaylistStore::ImportReport& import = store_.LastImport();
    current_.rows = import.rows;
    current_.importMs = import.ms;
    current_.importError = import.error;
    current_.importStoreFault = import.storeFault;
    if (current_.outcome == FetchOutcome::kImported) lastImported_ = std::move(p.ansi);
    std::exception_ptr error;
    if (current_.outcome == FetchOutcome::kImported && imported_) {
        try {
            imported_();
        } catch (...) {
            error = std::current_exception();
        }
    }
    Finish(error);
}

void PlaylistFetch::Finish(std::exception_ptr error) {
    FetchResult result = std::move(current_);
    current_ = FetchResult{};
    Done done = std::move(done_);
    done_ = nullptr;
    busy_ = false;
    Report(result, stopwatch_);
    if (done) {
        done(result, error);
    } else if (error) {
        try {
            std::rethrow_exception(error);
        } catch (...) {
            LogWarning(LogCategory::kFetch, "fetch failed: " + CurrentExceptionText());
        }
    }
}

FetchResult PlaylistFetch::Fetch() {
    if (QCoreApplication::instance() == nullptr) {
        // Kept for the rest of the process: the client's requests hold
        // notifiers and timers of the thread's event loop until they go.
        static int argc = 1;
        static char name[] = "zorvak";
        static char* argv[] = {name, nullptr};
        static QCoreApplication* const application = new QCoreApplication(argc, argv);
        (void)application;
    }
    QEventLoop loop;
    FetchResult result;
    std::exception_ptr error;
    bool ended = false;
    Start([&](const FetchResult& r, std::exception_ptr e) {
        result = r;
        error = e;
        ended = true;
        loop.quit();
    });
    if (!ended) loop.exec();
    if (error) std::rethrow_exception(error);
    return result;
}

void PlaylistFetch::Refresh() {
    if (!connectivity_.IsOnline()) return;
    try {
        Start([](const FetchResult&, std::exception_ptr error) {
            if (!error) return;
            try {
                std::rethrow_exception(error);
            } catch (...) {
                LogWarning(LogCategory::kFetch, "refresh failed: " + CurrentExceptionText());
            }
        });
    } catch (...) {
        // A failed refresh is tried again at the next tick.
        LogWarning(LogCategory::kFetch, "refresh failed: " + CurrentExceptionText());
    }
}

}  // namespace zorvak
