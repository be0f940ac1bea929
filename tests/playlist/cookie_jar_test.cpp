// The cookie jar on its own: which cookies it keeps, and which it sends back
// to which host and path.
#include "playlist/cookie_jar.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace zorvak {
namespace {

using namespace std::chrono_literals;

TEST(CookieJar, HostAndPathMatching) {
    CookieJar jar;
    jar.Store("a=1", "www.example.cn", "/dir/page");            // host-only, path /dir
    jar.Store("b=2; Domain=.example.cn; Path=/", "www.example.cn", "/");
    jar.Store("c=3; Domain=other.cn", "www.example.cn", "/");   // foreign domain: refused
    jar.Store("d=4; Domain=example.cn", "10.0.0.1", "/");       // address vs name: refused
    jar.Store("novalue", "www.example.cn", "/");                // malformed: ignored
    jar.Store("a=5", "www.example.cn", "/dir/other");           // replaces a=1, keeps its place
    EXPECT_EQ(jar.Size(), 2u);
    struct {
        const char* host;
        const char* path;
        const char* header;
    } cases[] = {
        {"www.example.cn", "/dir/x", "a=5; b=2"},
        {"www.example.cn", "/dir", "a=5; b=2"},
        {"www.example.cn", "/directory", "b=2"},
        {"WWW.Example.CN", "/", "b=2"},
        {"img.example.cn", "/dir/x", "b=2"},
        {"example.cn", "/", "b=2"},
        {"badexample.cn", "/", ""},
        {"other.cn", "/", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(jar.HeaderFor(c.host, c.path, false), c.header) << c.host << c.path;

    auto now = std::chrono::system_clock::now();
    jar.Store("t=1; Max-Age=60", "h.cn", "/", now);
    EXPECT_EQ(jar.HeaderFor("h.cn", "/", false, now + 59s), "t=1");
    EXPECT_EQ(jar.HeaderFor("h.cn", "/", false, now + 61s), "");
}

TEST(CookieJar, FarFutureExpiryKeepsTheCookie) {
    // "Never expires" as servers write it: lifetimes past the end of the
    // clock's range are kept, not wrapped into the past.
    const char* cookies[] = {
        "y=1; Expires=Fri, 31 Dec 9999 23:59:59 GMT",
        "m=1; Max-Age=9300000000",
        "h=1; Max-Age=99999999999999999999",
    };
    auto now = std::chrono::system_clock::now();
    for (const char* cookie : cookies) {
        CookieJar jar;
        jar.Store(cookie, "h.cn", "/", now);
        EXPECT_EQ(jar.Size(), 1u) << cookie;
        EXPECT_EQ(jar.HeaderFor("h.cn", "/", false, now + 24h * 365 * 100),
                  std::string(cookie).substr(0, 3))
            << cookie;
    }
}

}  // namespace
}  // namespace zorvak
