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

#include "core/log.h"
#include "core/product_texts.h"
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

std::optional<ContentRange> ParseContentRange(std::string value) {
    for (char& c : value)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
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

bool MediaDownloader::DownloadMediaFile(const std::string& fileName, const std::string& url) {
    const LogStopwatch stopwatch;
    DownloadProgress progress;
    try {
        const bool answer = Download(fileName, url, progress);
        const std::string line = "download " + progress.outcome + ": " + fileName + ", " +
                                 std::to_string(progress.received) + " bytes, " +
                                 std::to_string(stopwatch.ElapsedMs()) + " ms (" + url + ")";
        // Nothing was asked of the server: a line for those who look closely.
        Log(LogCategory::kDownload, answer ? LogLevel::kInfo : LogLevel::kDebug, line);
        return answer;
    } catch (...) {
        LogWarning(LogCategory::kDownload,
                   "download failed: " + fileName + ", " + std::to_string(progress.received) + " bytes, " +
                       std::to_string(stopwatch.ElapsedMs()) + " ms (" + url +
                       "): " + CurrentExceptionText());
        throw;
    }
}

bool MediaDownloader::Download(const std::string& fileName, const std::string& url,
                               DownloadProgress& progress) {
    // The name comes from the server: it must name a file inside the cache.
    if (!IsAcceptableCacheName(fileName)) {
        progress.outcome = "refused (the name would leave the cache)";
        return false;
    }
    if (!connectivity_.IsOnline()) {
        progress.outcome = "skipped (offline)";
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
    std::string cachePath = folder + fileName;
    if (CacheFileExists(cachePath)) {
        progress.outcome = "skipped (already in the cache)";
        return false;
    }

    HttpClient client(pump_, clock_);
    client.SetAbandonWhen(abandon_);
    client.SetFollowRedirects(true);
    client.SetLimits(limits_);

    // HEAD: the announced length and the address the redirects lead to.
    HttpResponse head = client.Head(url);
    if (!head.ok()) throw DownloadError("HEAD " + url + ": " + Describe(head));
    const std::string address = head.finalUrl;
    const std::int64_t target = head.contentLength.value_or(-1);  // -1: none announced

    if (CacheFileExists(cachePath)) {
        progress.outcome = "done (the file appeared meanwhile)";
        return true;
    }

    std::string partialPath = cachePath + ".tmp";
    std::unique_ptr<PartialFile> file;
    if (fs::exists(fs::symlink_status(partialPath, ec)) ||
        OpenPartialFiles().count(RegistryKey(partialPath))) {
        file = PartialFile::Open(partialPath);
        if (!file) {
            std::string text = texts::kOpenPartialFailedFormat;
            text.replace(text.find("%s"), 2, partialPath);
            if (showMessage_) showMessage_(text);
            progress.outcome = "abandoned (the partial file is in use)";
            return true;
        }
    } else {
        file = PartialFile::Open(partialPath);
        if (!file) throw DownloadError("cannot create the partial file " + partialPath);
    }

    ValidatorFile validatorFile(partialPath + ".validator");
    std::uint64_t count = file->Size();  // bytes in the partial file
    // The version the partial file holds the start of, when it is known.
    std::optional<std::string> kept = count > 0 ? validatorFile.Read() : std::nullopt;
    const std::optional<std::string> current = ValidatorOf(head.headers);
    bool fetch = true;
    if (target >= 0 && count == static_cast<std::uint64_t>(target)) {
        fetch = false;  // an earlier call wrote it all but did not rename it
    } else if (target < 0 || count > static_cast<std::uint64_t>(target) || !kept ||
               (current && *current != *kept)) {
        // Nothing tells what the bytes there are worth, or they belong to
        // another version of the resource: fetch the whole resource, never
        // completing one version's start with another's end.
        if (count > 0 && !file->Truncate())
            throw DownloadError("cannot write the partial file " + partialPath);
        count = 0;
        kept.reset();
    }

    if (fetch) {
        const bool ranged = count > 0;  // asks for the bytes from count on
        Refusal refusal = Refusal::kNone;
        HttpRequest get;
        get.url = address;
        if (ranged) {
            get.headers.push_back({"Range", "bytes=" + std::to_string(count) + "-"});
            // A server whose resource changed since sends the whole new one.
            get.headers.push_back({"If-Range", *kept});
        }
        // Decides, once the final answer's status is known, what its body
        // means for the partial file.
        get.onAnswer = [&](const HttpAnswer& answer) {
            if (ranged && answer.status == 206) {
                std::optional<ContentRange> range;
                if (auto value = answer.Header("Content-Range")) range = ParseContentRange(*value);
                bool continues = range && range->first == static_cast<std::int64_t>(count) &&
                                 (range->total < 0 || range->total == target);
                if (!continues) refusal = Refusal::kRangeMismatch;
                return continues;
            }
            // The whole resource: the partial file starts again, and the
            // validator of this version goes beside it before its first byte.
            if (ranged && !file->Truncate()) {
                refusal = Refusal::kWrite;
                return false;
            }
            count = 0;
            validatorFile.Write(ValidatorOf(answer.headers));
            return true;
        };
        get.sink = [&](std::string_view piece) {
            if (target >= 0 && count + piece.size() > static_cast<std::uint64_t>(target)) {
                refusal = Refusal::kTooLong;
                return false;
            }
            if (!file->Append(piece.data(), piece.size())) {
                refusal = Refusal::kWrite;
                return false;
            }
            count += piece.size();
            progress.received += piece.size();
            return true;
        };
        HttpResponse r = client.Send(get);

        std::string what = "GET " + address + ": ";
        switch (refusal) {
        case Refusal::kNone:
            break;
        case Refusal::kRangeMismatch:
            file->Truncate();
            validatorFile.Remove();
            throw DownloadError(what + "the partial answer does not continue the file");
        case Refusal::kTooLong:
            // The resource changed: what arrived cannot be trusted.
            file->Truncate();
            validatorFile.Remove();
            throw DownloadError(what + "the body is longer than the announced " +
                                std::to_string(target) + " bytes");
        case Refusal::kWrite:
            throw DownloadError(what + "cannot write the partial file " + partialPath);
        }
        if (!r.ok()) throw DownloadError(what + Describe(r));
        if (target >= 0 && count < static_cast<std::uint64_t>(target))
            throw DownloadError(what + "the body ended after " + std::to_string(count) + " of " +
                                std::to_string(target) + " bytes");
        pump_.Pump();
    }

    if (!file->Close()) throw DownloadError("cannot write the partial file " + partialPath);
    file.reset();
    // A failed rename leaves the complete data in the partial file; the next
    // call finds it whole and renames it.
    fs::rename(partialPath, cachePath, ec);
    if (!ec) validatorFile.Remove();
    if (ec) progress.outcome = "done, not renamed (" + ec.message() + ")";
    else if (!fetch) progress.outcome = "done (completed earlier, renamed)";
    return true;
}

}  // namespace zorvak
