#include "tools/testserver/test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "core/text.h"

namespace zorvak::test {

namespace {

constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
constexpr std::size_t kPieceSize = 64 * 1024;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecode(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            int hi = HexValue(s[i + 1]), lo = HexValue(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return out;
}

bool HasHeader(const Headers& headers, std::string_view name) {
    for (const auto& h : headers)
        if (EqualsNoCase(h.first, name)) return true;
    return false;
}

// Parses the header block (request line, header lines, empty line).
bool ParseRequest(const std::string& block, Request& req) {
    req.raw = block;
    std::size_t lineEnd = block.find("\r\n");
    if (lineEnd == std::string::npos) return false;
    std::string_view line(block.data(), lineEnd);
    std::size_t sp1 = line.find(' ');
    std::size_t sp2 = line.rfind(' ');
    if (sp1 == std::string_view::npos || sp2 == sp1) return false;
    req.method = std::string(line.substr(0, sp1));
    req.target = std::string(line.substr(sp1 + 1, sp2 - sp1 - 1));
    req.version = std::string(line.substr(sp2 + 1));
    std::size_t q = req.target.find('?');
    req.path = req.target.substr(0, q);
    req.query = q == std::string::npos ? std::string() : req.target.substr(q + 1);
    std::size_t pos = lineEnd + 2;
    while (pos < block.size()) {
        std::size_t end = block.find("\r\n", pos);
        if (end == std::string::npos || end == pos) break;
        std::string_view h(block.data() + pos, end - pos);
        std::size_t colon = h.find(':');
        if (colon != std::string_view::npos)
            req.headers.emplace_back(std::string(h.substr(0, colon)),
                                     std::string(Trim(h.substr(colon + 1))));
        pos = end + 2;
    }
    return true;
}

// One "bytes=" range against a body of size bytes. Returns false for a form
// it does not understand (the whole body is sent then); unsatisfiable is set
// for a range outside the body.
bool ParseRange(std::string_view value, std::uint64_t size, std::uint64_t& begin,
                std::uint64_t& length, bool& unsatisfiable) {
    unsatisfiable = false;
    value = Trim(value);
    if (value.substr(0, 6) != "bytes=") return false;
    value.remove_prefix(6);
    if (value.find(',') != std::string_view::npos) return false;
    std::size_t dash = value.find('-');
    if (dash == std::string_view::npos) return false;
    std::string first(Trim(value.substr(0, dash)));
    std::string last(Trim(value.substr(dash + 1)));
    auto digits = [](const std::string& s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (first.empty()) {
        if (!digits(last)) return false;
        std::uint64_t n = std::stoull(last);
        if (n == 0 || size == 0) {
            unsatisfiable = true;
            return true;
        }
        n = std::min(n, size);
        begin = size - n;
        length = n;
        return true;
    }
    if (!digits(first) || (!last.empty() && !digits(last))) return false;
    std::uint64_t a = std::stoull(first);
    std::uint64_t b = last.empty() ? size - 1 : std::stoull(last);
    if (!last.empty() && b < a) return false;
    if (a >= size) {
        unsatisfiable = true;
        return true;
    }
    b = std::min(b, size - 1);
    begin = a;
    length = b - a + 1;
    return true;
}

}  // namespace

std::optional<std::string> Request::Header(std::string_view name) const {
    for (const auto& h : headers)
        if (EqualsNoCase(h.first, name)) return h.second;
    return std::nullopt;
}

std::optional<std::string> Request::QueryValue(std::string_view key) const {
    std::string_view rest = query;
    while (true) {
        std::size_t amp = rest.find('&');
        std::string_view pair = rest.substr(0, amp);
        std::size_t eq = pair.find('=');
        std::string_view k = pair.substr(0, eq);
        if (PercentDecode(k) == key)
            return eq == std::string_view::npos ? std::string() : PercentDecode(pair.substr(eq + 1));
        if (amp == std::string_view::npos) return std::nullopt;
        rest.remove_prefix(amp + 1);
    }
}

Response Response::Text(std::string body, std::string contentType) {
    Response r;
    r.body = std::move(body);
    r.headers.emplace_back("Content-Type", std::move(contentType));
    return r;
}

Response Response::Status(int status, std::string body) {
    Response r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

Response Response::Redirect(int status, std::string location) {
    Response r;
    r.status = status;
    r.headers.emplace_back("Location", std::move(location));
    return r;
}

const char* ReasonPhrase(int status) {
    switch (status) {
        case 100: return "Continue";
        case 200: return "OK";
        case 201: return "Created";
        case 204: return "No Content";
        case 206: return "Partial Content";
        case 300: return "Multiple Choices";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 303: return "See Other";
        case 304: return "Not Modified";
        case 307: return "Temporary Redirect";
        case 308: return "Permanent Redirect";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 416: return "Range Not Satisfiable";
        case 500: return "Internal Server Error";
        case 502: return "Bad Gateway";
        case 503: return "Service Unavailable";
        default: return "Unknown";
    }
}

TestServer::TestServer(int port) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error("test server: socket failed");
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    socklen_t len = sizeof addr;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 64) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        ::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        ::close(listenFd_);
        throw std::runtime_error("test server: cannot listen on 127.0.0.1");
    }
    port_ = ntohs(addr.sin_port);
    fallback_ = [](const Request&) { return Response::Status(404, "not found"); };
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

TestServer::~TestServer() { Stop(); }

std::string TestServer::HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

std::string TestServer::Url(std::string_view pathAndQuery) const {
    return "http://" + HostPort() + std::string(pathAndQuery);
}

void TestServer::Route(const std::string& path, Response response) {
    Route(path, Handler([response = std::move(response)](const Request&) { return response; }));
}

void TestServer::Route(const std::string& path, Handler handler) {
    std::lock_guard lock(mutex_);
    routes_[path] = std::move(handler);
}

void TestServer::SetFallback(Handler handler) {
    std::lock_guard lock(mutex_);
    fallback_ = std::move(handler);
}

std::vector<Request> TestServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::string> TestServer::RawRequests() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& r : requests_) out.push_back(r.raw);
    return out;
}

int TestServer::RequestCount(const std::string& path) const {
    std::lock_guard lock(mutex_);
    auto it = counts_.find(path);
    return it == counts_.end() ? 0 : it->second;
}

int TestServer::TotalRequests() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(requests_.size());
}

int TestServer::Connections() const {
    std::lock_guard lock(mutex_);
    return connectionCount_;
}

void TestServer::ClearRecords() {
    std::lock_guard lock(mutex_);
    requests_.clear();
    counts_.clear();
}

bool TestServer::WaitForRequests(int count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout,
                             [&] { return static_cast<int>(requests_.size()) >= count; });
}

void TestServer::Stop() {
    if (stopping_.exchange(true)) return;
    char byte = 0;
    [[maybe_unused]] auto written = ::write(wakePipe_[1], &byte, 1);
    if (acceptThread_.joinable()) acceptThread_.join();
    {
        std::lock_guard lock(mutex_);
        for (auto& c : connections_)
            if (c->fd >= 0) ::shutdown(c->fd, SHUT_RDWR);
    }
    changed_.notify_all();
    std::list<std::unique_ptr<Connection>> all;
    {
        std::lock_guard lock(mutex_);
        all.swap(connections_);
    }
    for (auto& c : all)
        if (c->thread.joinable()) c->thread.join();
    ::close(listenFd_);
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
    listenFd_ = wakePipe_[0] = wakePipe_[1] = -1;
}

void TestServer::ReapFinished() {
    std::list<std::unique_ptr<Connection>> finished;
    {
        std::lock_guard lock(mutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if ((*it)->done) {
                finished.push_back(std::move(*it));
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& c : finished) c->thread.join();
}

void TestServer::AcceptLoop() {
    while (!stopping_) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        int n = ::poll(fds, 2, 1000);
        if (n < 0 && errno != EINTR) break;
        ReapFinished();
        if (stopping_ || (fds[1].revents & POLLIN)) break;
        if (!(fds[0].revents & POLLIN)) continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard lock(mutex_);
        if (stopping_) {
            ::close(fd);
            break;
        }
        auto conn = std::make_unique<Connection>();
        conn->fd = fd;
        int serial = ++connectionCount_;
        Connection* raw = conn.get();
        connections_.push_back(std::move(conn));
        raw->thread = std::thread([this, raw, serial] { Serve(raw, serial); });
    }
}

Handler TestServer::FindHandler(const std::string& path) const {
    std::lock_guard lock(mutex_);
    auto it = routes_.find(path);
    return it != routes_.end() ? it->second : fallback_;
}

void TestServer::Serve(Connection* conn, int serial) {
    int fd = conn->fd;
    std::string buffer;
    char chunk[16 * 1024];
    while (!stopping_) {
        std::size_t end;
        bool closed = false;
        while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
            if (buffer.size() > kMaxHeaderBytes) {
                closed = true;
                break;
            }
            ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                if (n < 0 && errno == EINTR) continue;
                closed = true;
                break;
            }
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
        if (closed) break;
        Request req;
        req.connection = serial;
        if (!ParseRequest(buffer.substr(0, end + 4), req)) break;
        buffer.erase(0, end + 4);
        if (auto cl = req.Header("Content-Length")) {
            std::size_t want = std::strtoull(cl->c_str(), nullptr, 10);
            while (buffer.size() < want) {
                ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
                if (n <= 0) {
                    closed = true;
                    break;
                }
                buffer.append(chunk, static_cast<std::size_t>(n));
            }
            if (closed) break;
            req.body = buffer.substr(0, want);
            buffer.erase(0, want);
        }
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(req);
            ++counts_[req.path];
        }
        changed_.notify_all();
        Response resp;
        try {
            resp = FindHandler(req.path)(req);
        } catch (const std::exception& e) {
            resp = Response::Status(500, e.what());
        }
        if (!Answer(fd, req, resp)) break;
    }
    {
        std::lock_guard lock(mutex_);
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
        conn->fd = -1;
    }
    conn->done = true;
}

bool TestServer::SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool TestServer::SleepFor(std::chrono::milliseconds delay) {
    if (delay.count() <= 0) return !stopping_;
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, delay, [&] { return stopping_.load(); });
    return !stopping_;
}

void TestServer::WaitUntilStopped() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopping_.load(); });
}

// Sends one answer; true when the connection stays open for another request.
bool TestServer::Answer(int fd, const Request& req, const Response& resp) {
    if (resp.raw) {
        SendAll(fd, *resp.raw);
        return false;
    }
    if (!SleepFor(resp.headerDelay)) return false;
    if (resp.stall == Response::Stall::kBeforeHeaders) {
        WaitUntilStopped();
        return false;
    }
    if (resp.interimContinue && !SendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n")) return false;

    const bool generated = static_cast<bool>(resp.generator);
    const std::uint64_t size = generated ? resp.generatedSize : resp.body.size();
    int status = resp.status;
    std::string reason = resp.reason;
    Headers headers = resp.headers;
    std::uint64_t begin = 0, length = size;
    if (resp.ranges && status == 200) {
        headers.emplace_back("Accept-Ranges", "bytes");
        // If-Range: the range only while the validator still matches the
        // answer's ETag or Last-Modified, else the whole body.
        std::optional<std::string> range = req.Header("Range");
        if (auto ifRange = req.Header("If-Range")) {
            bool matches = false;
            for (const auto& [name, value] : headers) {
                if ((EqualsNoCase(name, "ETag") || EqualsNoCase(name, "Last-Modified")) &&
                    value == *ifRange)
                    matches = true;
            }
            if (!matches) range.reset();
        }
        if (range) {
            bool unsatisfiable = false;
            std::uint64_t b = 0, l = 0;
            if (ParseRange(*range, size, b, l, unsatisfiable)) {
                if (unsatisfiable) {
                    status = 416;
                    reason.clear();
                    length = 0;
                    headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
                } else {
                    status = 206;
                    reason.clear();
                    begin = b;
                    length = l;
                    headers.emplace_back("Content-Range", "bytes " + std::to_string(b) + "-" +
                                                              std::to_string(b + l - 1) + "/" +
                                                              std::to_string(size));
                }
            }
        }
    }
    const bool bodyless = status < 200 || status == 204 || status == 304;
    const bool head = req.method == "HEAD";
    if (bodyless) length = 0;
    const bool lengthGiven = HasHeader(headers, "Content-Length");
    if (resp.contentLength && !lengthGiven && !bodyless)
        headers.emplace_back("Content-Length", std::to_string(length));
    auto wantsClose = req.Header("Connection");
    bool closeAfter = resp.close || req.version == "HTTP/1.0" ||
                      (wantsClose && EqualsNoCase(*wantsClose, "close")) ||
                      (!resp.contentLength && !lengthGiven && !bodyless);
    if (resp.close && !HasHeader(headers, "Connection")) headers.emplace_back("Connection", "close");

    std::string headBlock = "HTTP/1.1 " + std::to_string(status) + " " +
                             (reason.empty() ? ReasonPhrase(status) : reason) + "\r\n";
    for (const auto& h : headers) headBlock += h.first + ": " + h.second + "\r\n";
    headBlock += "\r\n";
    if (!SendAll(fd, headBlock)) return false;
    if (resp.stall == Response::Stall::kAfterHeaders) {
        WaitUntilStopped();
        return false;
    }
    if (head || bodyless) return !closeAfter;

    std::size_t piece = resp.chunkSize > 0 ? resp.chunkSize : kPieceSize;
    // A paced body goes in pieces of about 5 ms each.
    if (resp.bytesPerSecond > 0)
        piece = static_cast<std::size_t>(
            std::clamp<std::uint64_t>(resp.bytesPerSecond / 200, 1024, piece));
    const auto bodyStart = std::chrono::steady_clock::now();
    std::string out;
    std::uint64_t sent = 0;
    while (sent < length) {
        if (resp.chunkSize > 0 && !SleepFor(resp.chunkDelay)) return false;
        if (resp.bytesPerSecond > 0) {
            const auto due = bodyStart + std::chrono::microseconds(
                                             sent * 1000000 / resp.bytesPerSecond);
            const auto now = std::chrono::steady_clock::now();
            if (due > now &&
                !SleepFor(std::chrono::ceil<std::chrono::milliseconds>(due - now)))
                return false;
        }
        std::uint64_t n = std::min<std::uint64_t>(piece, length - sent);
        if (resp.dropAfter) {
            if (sent >= *resp.dropAfter) return false;
            n = std::min<std::uint64_t>(n, *resp.dropAfter - sent);
        }
        out.resize(static_cast<std::size_t>(n));
        if (generated) {
            if (!resp.generator(begin + sent, out.data(), out.size())) return false;
        } else {
            std::memcpy(out.data(), resp.body.data() + begin + sent, out.size());
        }
        if (!SendAll(fd, out)) return false;
        sent += n;
        if (stopping_) return false;
    }
    if (resp.dropAfter && *resp.dropAfter < length) return false;
    return !closeAfter;
}

UnansweredListener::UnansweredListener() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 0) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return;
    port_ = ntohs(addr.sin_port);
    // Connect until a connection stays unopened: the queue is then full.
    for (int i = 0; i < 16 && !ready_; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) return;
        int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        if (rc == 0) {
            fillers_.push_back(fd);
            continue;
        }
        if (errno != EINPROGRESS) {
            ::close(fd);
            return;
        }
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 200) == 0) {
            ready_ = true;  // this one did not open
            ::close(fd);
        } else {
            fillers_.push_back(fd);
        }
    }
}

UnansweredListener::~UnansweredListener() {
    for (int fd : fillers_) ::close(fd);
    if (listenFd_ >= 0) ::close(listenFd_);
}

std::string UnansweredListener::Url(std::string_view pathAndQuery) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(pathAndQuery);
}

}  // namespace zorvak::test
