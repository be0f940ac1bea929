#pragma once

// The engine's parts that the drivers (http_send.cpp, http_start.cpp) share;
// inside the playlist library only.

#include <curl/curl.h>

#include <exception>
#include <memory>
#include <string>

#include "playlist/http_client.h"
#include "playlist/http_target.h"

namespace zorvak {

// libcurl's global set-up, once per process.
void CurlGlobalInit();

// The line that says what f means, for a response without a more precise one.
const char* FailureText(HttpFailure f);

inline CURLM* Multi(void* p) { return static_cast<CURLM*>(p); }
inline CURL* Easy(void* p) { return static_cast<CURL*>(p); }

// State of one request on the wire (one hop of a redirect chain).
struct HttpClient::Transfer {
    HttpClient* client = nullptr;
    const HttpRequest* request = nullptr;
    std::string* body = nullptr;
    std::string url;
    HttpTarget target;
    bool onWire = false;   // handed to libcurl (the URL parsed, not abandoned)

    HttpHeadReader head;   // the answer arriving now (status, url, headers)
    HttpAnswer& answer = head.Answer();
    std::string location;  // its last Location header
    bool connected = false;
    bool progress = false;  // a byte arrived since the driver last looked
    std::uint64_t bodyBytes = 0;  // of every answer of this hop
    bool refused = false;   // the answer callback or the sink said no
    // An exception of a callback (the sink, an allocation): it must not cross
    // libcurl, which would be left inside its callback for good. The transfer
    // is aborted and the exception thrown again once libcurl has returned.
    std::exception_ptr thrown;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    bool IsRedirect() const;
    bool Delivers() const { return answer.status >= 200 && answer.status < 300 && !IsRedirect(); }

    // libcurl's callbacks.
    static size_t OnHeader(char* data, size_t size, size_t count, void* userp);
    static size_t OnBody(char* data, size_t size, size_t count, void* userp);
    static int OnConnected(void* userp, char*, char*, int, int);

private:
    size_t Header(char* data, size_t n);
    size_t Body(char* data, size_t n);
    void ReserveBody();
};

// One call: a request and the hops of its redirects. Send() keeps it on the
// stack; Start() keeps it in its driver until the answer is delivered.
struct HttpClient::Call {
    HttpRequest request;
    HttpResponse response;
    std::string current;  // the URL of the hop under way
    std::unique_ptr<Transfer> transfer;
    curl_slist* headers = nullptr;
    void* multi = nullptr;  // the multi handle the easy handle is attached to
    // Time without progress outside the event pump (Send) or in all (Start).
    MonotonicClock::duration waited{};
    MonotonicClock::time_point lastCheck{};
    // Time of the whole call, counted the same way.
    MonotonicClock::duration total{};
    // The low-speed window of the hop: its time, and the body bytes of the
    // hop when it started.
    MonotonicClock::duration slowTime{};
    std::uint64_t slowFrom = 0;
};

}  // namespace zorvak
