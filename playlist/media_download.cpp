#include "playlist/media_download.h"

#include <curl/curl.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/exclusive_file.h"

namespace zorvak {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
// The same bound as the playlist fetch: at most 14 redirects in a row.
constexpr long kMaxRedirects = 14;
// The pump runs at least this often while a request waits.
constexpr int kPumpIntervalMs = 250;
constexpr long kReceiveBufferSize = 512L * 1024;
constexpr std::size_t kFileBufferSize = 256 * 1024;

void EnsureCurlInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

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

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

bool Is2xx(long status) { return status >= 200 && status <= 299; }

// State of one request, shared with the libcurl callbacks.
struct Transfer {
    enum class Abort { kNone, kStatus, kRangeMismatch, kTooLong, kWrite };

    CURL* easy = nullptr;
    PartialFile* file = nullptr;  // null for the HEAD request
    std::int64_t target = -1;     // announced length; -1 when none was announced
    std::uint64_t count = 0;      // bytes in the partial file
    bool ranged = false;          // the request asked for bytes from count on
    bool responseChecked = false;
    // From the Content-Range header of the current response: "bytes a-b/c".
    std::int64_t rangeStart = -1;
    std::int64_t rangeTotal = -1;
    Abort abort = Abort::kNone;
    long abortStatus = 0;
    bool connected = false;
    bool activity = false;
};

std::string ToLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

size_t OnHeader(char* buffer, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    size_t length = size * count;
    t->activity = true;
    std::string line = ToLower(std::string_view(buffer, length));
    if (line.rfind("http/", 0) == 0) {
        // A new response (after an interim answer or a redirect).
        t->rangeStart = -1;
        t->rangeTotal = -1;
    } else if (line.rfind("content-range:", 0) == 0) {
        long long first = -1, last = -1, total = -1;
        if (std::sscanf(line.c_str() + 14, " bytes %lld-%lld/%lld", &first, &last, &total) >= 2) {
            t->rangeStart = first;
            t->rangeTotal = total;
        }
    }
    return length;
}

// Decides, once the final response's status is known, what its body means for
// the partial file. False aborts the transfer (Transfer::abort says why).
bool CheckResponse(Transfer& t) {
    t.responseChecked = true;
    long status = 0;
    curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &status);
    if (!Is2xx(status)) {
        t.abort = Transfer::Abort::kStatus;
        t.abortStatus = status;
        return false;
    }
    if (!t.ranged) return true;
    if (status == 206) {
        bool matches = t.rangeStart == static_cast<std::int64_t>(t.count) &&
                       (t.rangeTotal < 0 || t.rangeTotal == t.target);
        if (!matches) {
            t.abort = Transfer::Abort::kRangeMismatch;
            return false;
        }
        return true;
    }
    // The server sent the whole resource: start the partial file again.
    if (!t.file->Truncate()) {
        t.abort = Transfer::Abort::kWrite;
        return false;
    }
    t.count = 0;
    return true;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    size_t length = size * count;
    t->activity = true;
    if (!t->file) return length;  // nothing is kept of a HEAD answer
    if (!t->responseChecked && !CheckResponse(*t)) return 0;
    if (t->target >= 0 && t->count + length > static_cast<std::uint64_t>(t->target)) {
        t->abort = Transfer::Abort::kTooLong;
        return 0;
    }
    if (!t->file->Append(data, length)) {
        t->abort = Transfer::Abort::kWrite;
        return 0;
    }
    t->count += length;
    return length;
}

int OnConnected(void* user, char*, char*, int, int) {
    static_cast<Transfer*>(user)->connected = true;
    return CURL_PREREQFUNC_OK;
}

std::string Describe(CURLcode code, const char* detail) {
    return detail && *detail ? std::string(detail) : std::string(curl_easy_strerror(code));
}

}  // namespace

bool IsAcceptableCacheName(const std::string& fileName) {
    if (fileName.empty() || fileName == "." || fileName == "..") return false;
    return fileName.find_first_of(std::string_view("/\\:\0", 4)) == std::string::npos;
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
                                 EventPump& pump, ShowMessageFn showMessage,
                                 DownloadLimits limits)
    : dir_(dir),
      connectivity_(connectivity),
      pump_(pump),
      showMessage_(std::move(showMessage)),
      limits_(limits) {}

namespace {

// Runs one request on easy through a multi handle of its own, pumping events
// at least every kPumpIntervalMs and after every round that received data.
// Throws DownloadError when the limits pass without progress.
CURLcode Perform(CURL* easy, Transfer& t, EventPump& pump, const DownloadLimits& limits,
                 std::string& timeoutText) {
    CURLM* multi = curl_multi_init();
    if (!multi) throw DownloadError("cannot create an HTTP client");
    struct MultiGuard {
        CURLM* multi;
        CURL* easy;
        ~MultiGuard() {
            curl_multi_remove_handle(multi, easy);
            curl_multi_cleanup(multi);
        }
    };
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
        curl_multi_cleanup(multi);
        throw DownloadError("cannot start an HTTP request");
    }
    MultiGuard guard{multi, easy};

    Clock::duration idle{};
    bool wasConnected = false;
    for (;;) {
        Clock::time_point start = Clock::now();
        t.activity = false;
        int running = 0;
        CURLMcode mc = curl_multi_perform(multi, &running);
        if (mc != CURLM_OK) throw DownloadError(curl_multi_strerror(mc));
        if (running == 0) break;
        curl_multi_poll(multi, nullptr, 0, kPumpIntervalMs, nullptr);

        if (t.connected != wasConnected) {
            wasConnected = t.connected;
            idle = {};
        } else if (t.activity) {
            idle = {};
        } else {
            idle += Clock::now() - start;
        }
        auto limit = t.connected ? limits.stall : limits.connect;
        if (idle > limit) {
            timeoutText = t.connected ? "the server stopped sending" : "the connection did not open";
            timeoutText += " within " + std::to_string(limit.count()) + " ms";
            return CURLE_OPERATION_TIMEDOUT;
        }
        // Outside the idle count: a nested handler may run for a long time.
        pump.Pump();
    }

    CURLcode result = CURLE_OK;
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left))
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) result = msg->data.result;
    return result;
}

}  // namespace

bool MediaDownloader::DownloadMediaFile(const std::string& fileName, const std::string& url) {
    // The name comes from the server: it must name a file inside the cache.
    if (!IsAcceptableCacheName(fileName)) return false;
    if (!connectivity_.IsOnline()) return false;

    std::string folder = MediaCacheFolder(dir_);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        fs::create_directory(folder, ec);
        if (!fs::is_directory(folder))
            throw DownloadError("cannot create the media cache folder " + folder +
                                (ec ? ": " + ec.message() : std::string()));
    }
    std::string cachePath = folder + fileName;
    if (CacheFileExists(cachePath)) return false;

    EnsureCurlInitialised();
    std::unique_ptr<CURL, EasyDeleter> easyOwner(curl_easy_init());
    if (!easyOwner) throw DownloadError("cannot create an HTTP client");
    CURL* easy = easyOwner.get();
    std::unique_ptr<curl_slist, SlistDeleter> headers(
        curl_slist_append(nullptr, "Accept: text/html, */*"));
    char errorBuffer[CURL_ERROR_SIZE] = {};
    Transfer t;
    t.easy = easy;

    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, OnConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, &t);

    // HEAD: the announced length and the address the redirects lead to.
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    std::string timeoutText;
    CURLcode result = Perform(easy, t, pump_, limits_, timeoutText);
    if (result != CURLE_OK)
        throw DownloadError("HEAD " + url + ": " +
                            (timeoutText.empty() ? Describe(result, errorBuffer) : timeoutText));
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (!Is2xx(status))
        throw DownloadError("HEAD " + url + ": status " + std::to_string(status));
    char* effective = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
    std::string address = effective ? effective : url;
    curl_off_t announced = -1;
    curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);

    if (CacheFileExists(cachePath)) return true;

    std::string partialPath = cachePath + ".tmp";
    std::unique_ptr<PartialFile> file;
    if (fs::exists(fs::symlink_status(partialPath, ec)) || OpenPartialFiles().count(RegistryKey(partialPath))) {
        file = PartialFile::Open(partialPath);
        if (!file) {
            std::string text = kOpenPartialFailedFormat;
            text.replace(text.find("%s"), 2, partialPath);
            if (showMessage_) showMessage_(text);
            return true;
        }
    } else {
        file = PartialFile::Open(partialPath);
        if (!file) throw DownloadError("cannot create the partial file " + partialPath);
    }

    t.file = file.get();
    t.target = announced;
    t.count = file->Size();
    bool fetch = true;
    if (t.target >= 0 && t.count == static_cast<std::uint64_t>(t.target)) {
        fetch = false;  // an earlier call wrote it all but did not rename it
    } else if (t.target < 0 || t.count > static_cast<std::uint64_t>(t.target)) {
        // Nothing tells what the bytes there are worth: fetch the whole resource.
        if (t.count > 0 && !file->Truncate())
            throw DownloadError("cannot write the partial file " + partialPath);
        t.count = 0;
    }

    if (fetch) {
        t.ranged = t.count > 0;
        std::string range = std::to_string(t.count) + "-";
        curl_easy_setopt(easy, CURLOPT_NOBODY, 0L);
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(easy, CURLOPT_URL, address.c_str());
        curl_easy_setopt(easy, CURLOPT_RANGE, t.ranged ? range.c_str() : nullptr);
        t.connected = false;
        errorBuffer[0] = '\0';
        timeoutText.clear();
        result = Perform(easy, t, pump_, limits_, timeoutText);

        std::string what = "GET " + address + ": ";
        if (result == CURLE_OK && !t.responseChecked && !CheckResponse(t))
            result = CURLE_WRITE_ERROR;  // no body: judge the status now
        if (result == CURLE_WRITE_ERROR && t.abort != Transfer::Abort::kNone) {
            switch (t.abort) {
            case Transfer::Abort::kStatus:
                throw DownloadError(what + "status " + std::to_string(t.abortStatus));
            case Transfer::Abort::kRangeMismatch:
                file->Truncate();
                throw DownloadError(what + "the partial answer does not continue the file");
            case Transfer::Abort::kTooLong:
                // The resource changed: what arrived cannot be trusted.
                file->Truncate();
                throw DownloadError(what + "the body is longer than the announced " +
                                    std::to_string(t.target) + " bytes");
            default:
                throw DownloadError(what + "cannot write the partial file " + partialPath);
            }
        }
        if (result != CURLE_OK)
            throw DownloadError(what + (timeoutText.empty() ? Describe(result, errorBuffer)
                                                            : timeoutText));
        if (t.target >= 0 && t.count < static_cast<std::uint64_t>(t.target))
            throw DownloadError(what + "the body ended after " + std::to_string(t.count) +
                                " of " + std::to_string(t.target) + " bytes");
        pump_.Pump();
    }

    if (!file->Close()) throw DownloadError("cannot write the partial file " + partialPath);
    file.reset();
    // A failed rename leaves the complete data in the partial file; the next
    // call finds it whole and renames it.
    fs::rename(partialPath, cachePath, ec);
    return true;
}

}  // namespace zorvak
