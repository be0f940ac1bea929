// zorvak-testserver: serves a folder over HTTP on 127.0.0.1 for the demo and
// the benchmarks.
//
//   zorvak-testserver [--port PORT] [--rate MB_PER_SECOND] FOLDER
//
// GET and HEAD of the files under FOLDER, with Content-Length and single-range
// requests (206). "/getplaylist.php?hostname=KEY" answers the contents of
// FOLDER/playlists/KEY.xml when that file exists, otherwise FOLDER/playlist.xml.
// --rate sends the files' bodies at no more than that many MB (10^6 bytes) per
// second each.
// Prints "listening on http://127.0.0.1:PORT" once ready and runs until
// SIGINT or SIGTERM.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/text.h"
#include "tools/testserver/test_server.h"

namespace {

using zorvak::test::Request;
using zorvak::test::Response;

std::string ContentTypeOf(const std::string& path) {
    auto dot = path.find_last_of('.');
    const std::string ext = zorvak::ToLowerAscii(dot == std::string::npos ? "" : path.substr(dot + 1));
    if (ext == "jpg" || ext == "jpeg") return "image/jpeg";
    if (ext == "png") return "image/png";
    if (ext == "gif") return "image/gif";
    if (ext == "bmp") return "image/bmp";
    if (ext == "mp4") return "video/mp4";
    if (ext == "html" || ext == "htm") return "text/html; charset=utf-8";
    if (ext == "xml") return "text/xml; charset=utf-8";
    if (ext == "txt") return "text/plain; charset=utf-8";
    return "application/octet-stream";
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string DecodePath(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2])));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

bool SafeRelative(const std::string& path) {
    if (path.find('\0') != std::string::npos) return false;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (path.compare(start, end - start, "..") == 0) return false;
        start = end + 1;
    }
    return true;
}

bool RegularFile(const std::string& path, std::uint64_t* size) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (size) *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

// A file answer whose body is read from disk as it is sent.
Response FileResponse(const std::string& path, const std::string& contentType) {
    std::uint64_t size = 0;
    if (!RegularFile(path, &size)) return Response::Status(404, "not found");
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Response::Status(403, "forbidden");
    auto file = std::shared_ptr<int>(new int(fd), [](int* p) {
        ::close(*p);
        delete p;
    });
    Response r;
    r.headers.emplace_back("Content-Type", contentType);
    r.ranges = true;
    r.generatedSize = size;
    r.generator = [file](std::uint64_t offset, char* out, std::size_t length) {
        while (length > 0) {
            ssize_t n = ::pread(*file, out, length, static_cast<off_t>(offset));
            if (n <= 0) return false;
            out += n;
            offset += static_cast<std::uint64_t>(n);
            length -= static_cast<std::size_t>(n);
        }
        return true;
    };
    return r;
}

int Usage() {
    std::fputs("usage: zorvak-testserver [--port PORT] [--rate MB_PER_SECOND] FOLDER\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int port = 0;
    double rate = 0;  // MB per second; 0: unlimited
    std::string folder;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--port" && i + 1 < argc) {
            port = std::atoi(argv[++i]);
        } else if (a == "--rate" && i + 1 < argc) {
            rate = std::atof(argv[++i]);
            if (!(rate > 0)) return Usage();
        } else if (!a.empty() && a[0] == '-') {
            return Usage();
        } else if (folder.empty()) {
            folder = a;
        } else {
            return Usage();
        }
    }
    if (folder.empty()) return Usage();
    if (folder.back() != '/') folder += '/';

    // Signals are taken by sigwait below; the server's threads inherit the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::unique_ptr<zorvak::test::TestServer> server;
    try {
        server = std::make_unique<zorvak::test::TestServer>(port);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zorvak-testserver: %s\n", e.what());
        return 1;
    }
    server->Route("/getplaylist.php", [folder](const Request& req) {
        std::string key = req.QueryValue("hostname").value_or("");
        std::string own = folder + "playlists/" + key + ".xml";
        bool usable = !key.empty() && key.find('/') == std::string::npos && key != "." &&
                      key != ".." && RegularFile(own, nullptr);
        Response r = FileResponse(usable ? own : folder + "playlist.xml",
                                  "text/html; charset=utf-8");
        r.ranges = false;
        return r;
    });
    const auto bytesPerSecond = static_cast<std::uint64_t>(rate * 1e6);
    server->SetFallback([folder, bytesPerSecond](const Request& req) {
        if (req.method != "GET" && req.method != "HEAD") return Response::Status(405, "");
        std::string rel = DecodePath(req.path);
        while (!rel.empty() && rel.front() == '/') rel.erase(0, 1);
        if (rel.empty() || !SafeRelative(rel)) return Response::Status(404, "not found");
        std::string path = folder + rel;
        Response r = FileResponse(path, ContentTypeOf(path));
        r.bytesPerSecond = bytesPerSecond;
        return r;
    });
    std::printf("listening on http://%s\n", server->HostPort().c_str());
    std::fflush(stdout);
    int sig = 0;
    sigwait(&signals, &sig);
    server->Stop();
    return 0;
}
