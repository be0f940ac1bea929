#include "playlist/media_download.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>

#include <QCoreApplication>
#include <QTimer>

#include "core/log.h"
#include "core/product_texts.h"
#include "core/text.h"
#include "platform/exclusive_file.h"
#include "platform/file_name.h"

namespace zorvak {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kFileBufferSize = 256 * 1024;

// Partial files held open by a call that is still running in this process. A
// nested call for the same file finds its partial file here and treats it as
// a file that cannot be opened, as an exclusive open would.
std::set<std::string>& OpenPartialFiles() {
    static std::set<std::string> files;
    return files;
}

std::string RegistryKey(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
}

// The partial file of one call: opened for appending and held exclusively,
// in this process through the registry above and against everyone through
// the platform's exclusive open; flushed and closed by Close() or the
// destructor.
class PartialFile {
public:
    // nullptr when the file cannot be opened or is held by another call.
    static std::unique_ptr<PartialFile> Open(const std::string& path) {
        std::string key = RegistryKey(path);
        if (OpenPartialFiles().count(key)) return nullptr;
        std::unique_ptr<ExclusiveFile> file = ExclusiveFile::OpenForAppend(path, kFileBufferSize);
        if (!file) return nullptr;
        return std::unique_ptr<PartialFile>(new PartialFile(path, key, std::move(file)));
    }

    ~PartialFile() {
        file_.reset();
        OpenPartialFiles().erase(key_);
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    const std::string& path() const { return path_; }
    std::uint64_t Size() { return file_->Size(); }
    bool Append(const char* data, std::size_t length) { return file_->Append(data, length); }
    // Empties the file; later appends start at offset 0.
    bool Truncate() { return file_->Truncate(); }
    // Flushes and closes; false when the data could not be written.
    bool Close() { return file_->Close(); }

private:
    PartialFile(std::string path, std::string key, std::unique_ptr<ExclusiveFile> file)
        : path_(std::move(path)), key_(std::move(key)), file_(std::move(file)) {
        OpenPartialFiles().insert(key_);
    }

    std::string path_;
    std::string key_;
    std::unique_ptr<ExclusiveFile> file_;
};

// What one HTTP call gave, in a line for DownloadError.
std::string Describe(const HttpResponse& r) {
    if (r.failure == HttpFailure::kStatus) return "status " + std::to_string(r.status);
    return r.error;
}

// "bytes first-last/total" of a Content-Range header; total is -1 when "*".
struct ContentRange {
    std::int64_t first = -1;
    std::int64_t total = -1;
};

std::optional<ContentRange> ParseContentRange(std::string_view header) {
    const std::string value = ToLowerAscii(header);
    long long first = -1, last = -1, total = -1;
    if (std::sscanf(value.c_str(), "bytes %lld-%lld/%lld", &first, &last, &total) < 2)
        return std::nullopt;
    return ContentRange{first, total};
}

// Why the downloader refused a GET answer or its body.
enum class Refusal { kNone, kRangeMismatch, kTooLong, kWrite };

// The validator of an answer, as an If-Range header would carry it: a strong
// ETag, else Last-Modified; nullopt when it has neither (a weak ETag cannot
// guard a range).
std::optional<std::string> ValidatorOf(const HttpHeaders& headers) {
    if (auto etag = FindHeader(headers, "ETag")) {
        if (!etag->empty() && etag->rfind("W/", 0) != 0) return etag;
    }
    if (auto modified = FindHeader(headers, "Last-Modified")) {
        if (!modified->empty()) return modified;
    }
    return std::nullopt;
}

// The validator of the version a partial file holds the start of, kept beside
// it ("<name>.tmp.validator"), so that a later call resumes only that version.
class ValidatorFile {
public:
    explicit ValidatorFile(std::string path) : path_(std::move(path)) {}

    std::optional<std::string> Read() const {
        std::ifstream in(path_, std::ios::binary);
        std::string line;
        if (!in || !std::getline(in, line) || line.empty()) return std::nullopt;
        return line;
    }
    // Written whole or not at all (temporary file, then rename). False when
    // it could not be kept: the partial file then has no validator.
    bool Write(const std::optional<std::string>& validator) {
        Remove();
        if (!validator || validator->find_first_of("\r\n") != std::string::npos) return !validator;
        const std::string temp = path_ + ".new";
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            out << *validator << '\n';
            out.flush();
            if (!out) {
                std::error_code ec;
                fs::remove(temp, ec);
                return false;
            }
        }
        std::error_code ec;
        fs::rename(temp, path_, ec);
        if (ec) fs::remove(temp, ec);
        return !ec;
    }
    void Remove() {
        std::error_code ec;
        fs::remove(path_, ec);
    }

private:
    std::string path_;
};

// The steps of one download, the same whether the requests wait (Send) or are
// driven by the event loop (Start): what is checked before the HEAD, what the
// HEAD answer decides about the partial file, the GET that follows and the
// rename. Each step throws DownloadError where the download fails.
class DownloadSteps {
public:
    DownloadSteps(const AppDirectory& dir, std::string fileName, std::string url)
        : dir_(dir), fileName_(std::move(fileName)), url_(std::move(url)) {}

    const std::string& Url() const { return url_; }
    const std::string& FileName() const { return fileName_; }
    const std::string& Address() const { return address_; }
    bool Held() const { return held_; }
    bool NeedsGet() const { return fetch_; }
    // For the log line: bytes received by this download, and how it went.
    std::uint64_t Received() const { return received_; }
    const std::string& Outcome() const { return outcome_; }
    const std::string& PartialPath() const { return partialPath_; }

    // Before any request: the answer when the call ends here.
    std::optional<bool> Prepare(Connectivity& connectivity) {
        // The name comes from the server: it must name a file inside the cache.
        if (!IsAcceptableCacheName(fileName_)) {
            outcome_ = "refused (the name would leave the cache)";
            return false;
        }
        if (!connectivity.IsOnline()) {
            outcome_ = "skipped (offline)";
            return false;
        }
        std::string folder = MediaCacheFolder(dir_);
        std::error_code ec;
        if (!fs::is_directory(folder, ec)) {
            fs::create_directory(folder, ec);
            if (!fs::is_directory(folder))
                throw DownloadError("cannot create the media cache folder " + folder +
                                    (ec ? ": " + ec.message() : std::string()));
        }
        cachePath_ = folder + fileName_;
        partialPath_ = cachePath_ + ".tmp";
        if (CacheFileExists(cachePath_)) {
            outcome_ = "skipped (already in the cache)";
            return false;
        }
        return std::nullopt;
    }

    // The HEAD's answer (the announced length and the address the redirects
    // lead to) decides about the partial file. The answer when the call ends
    // here; Held() tells that the partial file is held by another call.
    std::optional<bool> AfterHead(const HttpResponse& head) {
        if (!head.ok()) throw DownloadError("HEAD " + url_ + ": " + Describe(head));
        address_ = head.finalUrl;
        target_ = head.contentLength.value_or(-1);  // -1: none announced

        if (CacheFileExists(cachePath_)) {
            outcome_ = "done (the file appeared meanwhile)";
            return true;
        }

        std::error_code ec;
        if (fs::exists(fs::symlink_status(partialPath_, ec)) ||
            OpenPartialFiles().count(RegistryKey(partialPath_))) {
            file_ = PartialFile::Open(partialPath_);
            if (!file_) {
                held_ = true;
                outcome_ = "abandoned (the partial file is in use)";
                return true;
            }
        } else {
            file_ = PartialFile::Open(partialPath_);
            if (!file_) throw DownloadError("cannot create the partial file " + partialPath_);
        }

        validatorFile_ = std::make_unique<ValidatorFile>(partialPath_ + ".validator");
        count_ = file_->Size();  // bytes in the partial file
        // The version the partial file holds the start of, when it is known.
        kept_ = count_ > 0 ? validatorFile_->Read() : std::nullopt;
        const std::optional<std::string> current = ValidatorOf(head.headers);
        if (target_ >= 0 && count_ == static_cast<std::uint64_t>(target_)) {
            fetch_ = false;  // an earlier call wrote it all but did not rename it
            outcome_ = "done (completed earlier, renamed)";
        } else if (target_ < 0 || count_ > static_cast<std::uint64_t>(target_) || !kept_ ||
                   (current && *current != *kept_)) {
            // Nothing tells what the bytes there are worth, or they belong to
            // another version of the resource: fetch the whole resource, never
            // completing one version's start with another's end.
            if (count_ > 0 && !file_->Truncate())
                throw DownloadError("cannot write the partial file " + partialPath_);
            count_ = 0;
            kept_.reset();
        }
        return std::nullopt;
    }

    // The HEAD of the resource, redirects followed.
    HttpRequest HeadRequest() const {
        HttpRequest head;
        head.url = url_;
        head.method = HttpRequest::Method::kHead;
        head.followRedirects = true;
        return head;
    }

    // The GET of the rest (or the whole) of the resource, redirects followed;
    // its callbacks refer to these steps, which must outlive the request.
    HttpRequest GetRequest() {
        ranged_ = count_ > 0;  // asks for the bytes from count on
        refusal_ = Refusal::kNone;
        HttpRequest get;
        get.url = address_;
        get.followRedirects = true;
        if (ranged_) {
            get.headers.push_back({"Range", "bytes=" + std::to_string(count_) + "-"});
            // A server whose resource changed since sends the whole new one.
            get.headers.push_back({"If-Range", *kept_});
        }
        // Decides, once the final answer's status is known, what its body
        // means for the partial file.
        get.onAnswer = [this](const HttpAnswer& answer) {
            if (ranged_ && answer.status == 206) {
                std::optional<ContentRange> range;
                if (auto value = answer.Header("Content-Range")) range = ParseContentRange(*value);
                bool continues = range && range->first == static_cast<std::int64_t>(count_) &&
                                 (range->total < 0 || range->total == target_);
                if (!continues) refusal_ = Refusal::kRangeMismatch;
                return continues;
            }
            // The whole resource: the partial file starts again, and the
            // validator of this version goes beside it before its first byte.
            if (ranged_ && !file_->Truncate()) {
                refusal_ = Refusal::kWrite;
                return false;
            }
            count_ = 0;
            validatorFile_->Write(ValidatorOf(answer.headers));
            return true;
        };
        get.sink = [this](std::string_view piece) {
            if (target_ >= 0 && count_ + piece.size() > static_cast<std::uint64_t>(target_)) {
                refusal_ = Refusal::kTooLong;
                return false;
            }
            if (!file_->Append(piece.data(), piece.size())) {
                refusal_ = Refusal::kWrite;
                return false;
            }
            count_ += piece.size();
            received_ += piece.size();
            return true;
        };
        return get;
    }

    void AfterGet(const HttpResponse& r) {
        std::string what = "GET " + address_ + ": ";
        switch (refusal_) {
        case Refusal::kNone:
            break;
        case Refusal::kRangeMismatch:
            file_->Truncate();
            validatorFile_->Remove();
            throw DownloadError(what + "the partial answer does not continue the file");
        case Refusal::kTooLong:
            // The resource changed: what arrived cannot be trusted.
            file_->Truncate();
            validatorFile_->Remove();
            throw DownloadError(what + "the body is longer than the announced " +
                                std::to_string(target_) + " bytes");
        case Refusal::kWrite:
            throw DownloadError(what + "cannot write the partial file " + partialPath_);
        }
        if (!r.ok()) throw DownloadError(what + Describe(r));
        if (target_ >= 0 && count_ < static_cast<std::uint64_t>(target_))
            throw DownloadError(what + "the body ended after " + std::to_string(count_) + " of " +
                                std::to_string(target_) + " bytes");
    }

    // The complete partial file under its final name. A failed rename leaves
    // the complete data in the partial file; the next call finds it whole and
    // renames it.
    void Finish() {
        if (!file_->Close()) throw DownloadError("cannot write the partial file " + partialPath_);
        file_.reset();
        std::error_code ec;
        fs::rename(partialPath_, cachePath_, ec);
        if (!ec) validatorFile_->Remove();
        if (ec) outcome_ = "done, not renamed (" + ec.message() + ")";
    }

    // The message for a partial file held by another call.
    std::string HeldMessage() const {
        std::string text = texts::kOpenPartialFailedFormat;
        text.replace(text.find("%s"), 2, partialPath_);
        return text;
    }

private:
    const AppDirectory& dir_;
    std::string fileName_;
    std::string url_;
    std::string cachePath_;
    std::string partialPath_;
    std::string address_;
    std::int64_t target_ = -1;
    std::unique_ptr<PartialFile> file_;
    std::unique_ptr<ValidatorFile> validatorFile_;
    std::uint64_t count_ = 0;
    std::optional<std::string> kept_;
    bool fetch_ = true;
    bool held_ = false;
    bool ranged_ = false;
    Refusal refusal_ = Refusal::kNone;
    std::uint64_t received_ = 0;
    std::string outcome_ = "done";
};

}  // namespace

bool IsAcceptableCacheName(const std::string& fileName) {
    if (fileName.empty() || fileName == "." || fileName == "..") return false;
    if (fileName.find_first_of(std::string_view("/\\:\0", 4)) != std::string::npos) return false;
    return IsLocalFileName(fileName);
}

std::string MediaCacheFolder(const AppDirectory& dir) {
    // With the platform's own separator: data\ on Windows, data/ elsewhere.
    return dir.Path() + "data" + static_cast<char>(fs::path::preferred_separator);
}

std::string MediaCachePath(const AppDirectory& dir, const std::string& fileName) {
    return MediaCacheFolder(dir) + fileName;
}

bool CacheFileExists(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

MediaDownloader::MediaDownloader(const AppDirectory& dir, Connectivity& connectivity,
                                 EventPump& pump, ShowMessageFn showMessage, HttpLimits limits,
                                 MonotonicClock& clock)
    : dir_(dir),
      connectivity_(connectivity),
      pump_(pump),
      showMessage_(std::move(showMessage)),
      limits_(limits),
      clock_(clock) {}

// One line per call: how it went, the bytes received and the time taken.
static std::string DownloadLine(const std::string& outcome, const std::string& fileName,
                                std::uint64_t received, std::int64_t ms, const std::string& url) {
    return "download " + outcome + ": " + fileName + ", " + std::to_string(received) + " bytes, " +
           std::to_string(ms) + " ms (" + url + ")";
}

bool MediaDownloader::DownloadMediaFile(const std::string& fileName, const std::string& url) {
    const LogStopwatch stopwatch;
    DownloadProgress progress;
    try {
        const bool answer = Download(fileName, url, progress);
        // Nothing was asked of the server: a line for those who look closely.
        Log(LogCategory::kDownload, answer ? LogLevel::kInfo : LogLevel::kDebug,
            DownloadLine(progress.outcome, fileName, progress.received, stopwatch.ElapsedMs(),
                         url));
        return answer;
    } catch (...) {
        LogWarning(LogCategory::kDownload,
                   DownloadLine("failed", fileName, progress.received, stopwatch.ElapsedMs(), url) +
                       ": " + CurrentExceptionText());
        throw;
    }
}

bool MediaDownloader::Download(const std::string& fileName, const std::string& url,
                               DownloadProgress& progress) {
    DownloadSteps steps(dir_, fileName, url);
    // However the call ends, its progress is what the steps saw.
    struct Report {
        const DownloadSteps& steps;
        DownloadProgress& progress;
        ~Report() {
            progress.received = steps.Received();
            progress.outcome = steps.Outcome();
        }
    } report{steps, progress};
    if (std::optional<bool> answer = steps.Prepare(connectivity_)) return *answer;

    HttpClient client(pump_, clock_);
    client.SetAbandonWhen(abandon_);
    client.SetLimits(limits_);

    if (std::optional<bool> answer = steps.AfterHead(client.Send(steps.HeadRequest()))) {
        if (steps.Held() && showMessage_) showMessage_(steps.HeldMessage());
        return *answer;
    }
    if (steps.NeedsGet()) {
        steps.AfterGet(client.Send(steps.GetRequest()));
        pump_.Pump();
    }
    steps.Finish();
    return true;
}

// The steps of one download with requests started on the event loop.
struct MediaFetch::Job {
    DownloadSteps steps;
    HttpClient client;
    DownloadDone done;
    LogStopwatch stopwatch;

    Job(const AppDirectory& dir, const std::string& fileName, const std::string& url,
        EventPump& pump, MonotonicClock& clock)
        : steps(dir, fileName, url), client(pump, clock) {}
};

MediaFetch::MediaFetch(const AppDirectory& dir, Connectivity& connectivity, HttpLimits limits,
                       MonotonicClock& clock)
    : dir_(dir), connectivity_(connectivity), limits_(limits), clock_(clock) {}

MediaFetch::~MediaFetch() = default;

void MediaFetch::Start(const std::string& fileName, const std::string& url, DownloadDone done) {
    job_.reset();
    job_ = std::make_shared<Job>(dir_, fileName, url, pump_, clock_);
    Job& job = *job_;
    job.done = std::move(done);
    job.client.SetAbandonWhen(abandon_);
    job.client.SetLimits(limits_);
    std::optional<bool> answer;
    try {
        answer = job.steps.Prepare(connectivity_);
    } catch (const DownloadError& e) {
        Refuse(DownloadResult{DownloadResult::Kind::kFailed, e.what()});
        return;
    }
    if (answer) {
        Refuse(DownloadResult{*answer ? DownloadResult::Kind::kDone : DownloadResult::Kind::kNothing,
                              {}});
        return;
    }
    job.client.Start(job.steps.HeadRequest(), [this](HttpResponse r) { AfterHead(std::move(r)); });
}

void MediaFetch::Cancel() { job_.reset(); }

bool MediaFetch::Busy() const { return static_cast<bool>(job_); }

void MediaFetch::Refuse(DownloadResult result) {
    // Ended before any request: answered from the event loop all the same.
    std::weak_ptr<Job> job = job_;
    QTimer::singleShot(0, QCoreApplication::instance(), [this, job, result = std::move(result)] {
        if (!job.expired()) End(result);
    });
}

void MediaFetch::AfterHead(HttpResponse head) {
    Job& job = *job_;
    try {
        if (std::optional<bool> answer = job.steps.AfterHead(head)) {
            DownloadResult result;
            result.kind = job.steps.Held() ? DownloadResult::Kind::kHeld
                          : *answer        ? DownloadResult::Kind::kDone
                                           : DownloadResult::Kind::kNothing;
            if (job.steps.Held()) result.error = job.steps.HeldMessage();
            End(std::move(result));
            return;
        }
        if (!job.steps.NeedsGet()) {
            job.steps.Finish();
            End(DownloadResult{DownloadResult::Kind::kDone, {}});
            return;
        }
    } catch (const DownloadError& e) {
        End(DownloadResult{DownloadResult::Kind::kFailed, e.what()});
        return;
    }
    job.client.Start(job.steps.GetRequest(), [this](HttpResponse r) { AfterGet(std::move(r)); });
}

void MediaFetch::AfterGet(HttpResponse r) {
    Job& job = *job_;
    try {
        job.steps.AfterGet(r);
        job.steps.Finish();
    } catch (const DownloadError& e) {
        End(DownloadResult{DownloadResult::Kind::kFailed, e.what()});
        return;
    }
    End(DownloadResult{DownloadResult::Kind::kDone, {}});
}

void MediaFetch::End(DownloadResult result) {
    const DownloadSteps& steps = job_->steps;
    const std::int64_t ms = job_->stopwatch.ElapsedMs();
    switch (result.kind) {
    case DownloadResult::Kind::kFailed:
    case DownloadResult::Kind::kHeld:
        LogWarning(LogCategory::kDownload,
                   DownloadLine("failed", steps.FileName(), steps.Received(), ms, steps.Url()) +
                       ": " + result.error);
        break;
    case DownloadResult::Kind::kDone:
        LogInfo(LogCategory::kDownload,
                DownloadLine(steps.Outcome(), steps.FileName(), steps.Received(), ms, steps.Url()));
        break;
    case DownloadResult::Kind::kNothing:
    case DownloadResult::Kind::kGaveUp:
        LogDebug(LogCategory::kDownload,
                 DownloadLine(steps.Outcome(), steps.FileName(), steps.Received(), ms, steps.Url()));
        break;
    }
    // The job (its partial file, its client) goes before done runs: done may
    // start the next download at once.
    DownloadDone done = std::move(job_->done);
    job_.reset();
    if (done) done(result);
}

}  // namespace zorvak
