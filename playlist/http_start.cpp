// The event-loop driver of HttpClient: Start() hands the hops to a multi
// handle of its own whose sockets and timeout the thread's Qt event loop
// watches; nothing waits and nothing is pumped.
#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <map>
#include <memory>

#include "http_engine.h"

namespace zorvak {

// What drives a call of Start(): the thread's event loop watches libcurl's
// sockets (QSocketNotifier) and its timeout (QTimer), and a second timer keeps
// the limits and the abandon check, every kPumpInterval. The multi handle is
// its own, so that Send()'s polling never sees these callbacks.
struct HttpClient::AsyncDriver {
    struct Watch {
        std::unique_ptr<QSocketNotifier> read;
        std::unique_ptr<QSocketNotifier> write;
    };

    HttpClient& client;
    CURLM* multi = curl_multi_init();
    // The context of every connection and queued call: destroyed with the
    // driver, so nothing reaches a client that is gone.
    QObject context;
    QTimer curlTimer;
    QTimer limitTimer;
    std::map<curl_socket_t, Watch> sockets;
    std::unique_ptr<Call> call;
    HttpDone done;
    std::shared_ptr<int> alive = std::make_shared<int>(0);

    explicit AsyncDriver(HttpClient& c) : client(c) {
        curlTimer.setSingleShot(true);
        QObject::connect(&curlTimer, &QTimer::timeout, &context,
                         [this] { Action(CURL_SOCKET_TIMEOUT, 0); });
        limitTimer.setInterval(static_cast<int>(kPumpInterval.count()));
        QObject::connect(&limitTimer, &QTimer::timeout, &context, [this] { CheckLimits(); });
        if (multi) {
            curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &AsyncDriver::OnSocket);
            curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
            curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &AsyncDriver::OnTimer);
            curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
        }
    }

    ~AsyncDriver() {
        if (call) client.Detach(*call);
        sockets.clear();
        if (multi) curl_multi_cleanup(multi);
    }

    static int OnSocket(CURL*, curl_socket_t s, int what, void* userp, void*) {
        auto* d = static_cast<AsyncDriver*>(userp);
        if (what == CURL_POLL_REMOVE) {
            d->Unwatch(s);
            return 0;
        }
        Watch& w = d->sockets[s];
        auto make = [d, s](QSocketNotifier::Type type, int mask) {
            auto n = std::make_unique<QSocketNotifier>(static_cast<qintptr>(s), type);
            QObject::connect(n.get(), &QSocketNotifier::activated, &d->context,
                             [d, s, mask] { d->Action(s, mask); });
            return n;
        };
        const bool in = what == CURL_POLL_IN || what == CURL_POLL_INOUT;
        const bool out = what == CURL_POLL_OUT || what == CURL_POLL_INOUT;
        if (in && !w.read) w.read = make(QSocketNotifier::Read, CURL_CSELECT_IN);
        if (out && !w.write) w.write = make(QSocketNotifier::Write, CURL_CSELECT_OUT);
        if (w.read) w.read->setEnabled(in);
        if (w.write) w.write->setEnabled(out);
        return 0;
    }

    // A notifier may be the one whose signal is being served: it is switched
    // off at once and deleted once control is back in the event loop.
    void Unwatch(curl_socket_t s) {
        auto it = sockets.find(s);
        if (it == sockets.end()) return;
        for (auto* n : {it->second.read.release(), it->second.write.release()}) {
            if (!n) continue;
            n->setEnabled(false);
            QObject::disconnect(n, nullptr, &context, nullptr);
            n->deleteLater();
        }
        sockets.erase(it);
    }

    static int OnTimer(CURLM*, long ms, void* userp) {
        auto* d = static_cast<AsyncDriver*>(userp);
        // libcurl must not be called back from here: the timer fires from the
        // event loop, even for 0 ms.
        if (ms < 0)
            d->curlTimer.stop();
        else
            d->curlTimer.start(static_cast<int>(std::min<long>(ms, 24L * 3600 * 1000)));
        return 0;
    }

    void Action(curl_socket_t s, int mask) {
        if (!call) return;
        int running = 0;
        curl_multi_socket_action(multi, s, mask, &running);
        int queued = 0;
        CURL* easy = Easy(client.easy_);
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
                const CURLcode result = msg->data.result;
                std::string error;
                HttpFailure f = client.Outcome(*call->transfer, result, error);
                if (call->transfer->thrown) {
                    f = HttpFailure::kAborted;
                    error = "a callback of the request failed";
                }
                HopEnded(f, std::move(error));
                return;
            }
        }
    }

    void CheckLimits() {
        if (!call) return;
        const auto now = client.clock_.Now();
        const auto counted = now - call->lastCheck;
        call->lastCheck = now;
        std::string error;
        HttpFailure f = client.CountTime(*call, counted, error);
        if (f == HttpFailure::kNone && client.Abandoned())
            f = HttpFailure::kAbandoned;
        if (f != HttpFailure::kNone) HopEnded(f, std::move(error));
    }

    // The hop on the wire ended with f: the next hop goes out, or the call
    // is over and its answer is delivered.
    void HopEnded(HttpFailure f, std::string error) {
        client.Detach(*call);
        while (client.EndHop(*call, f, std::move(error)) == HopEnd::kNext) {
            error.clear();
            f = client.BeginHop(*call, multi, error);
            if (f == HttpFailure::kNone) {
                Attached();
                return;
            }
        }
        Deliver();
    }

    void Attached() {
        call->lastCheck = client.clock_.Now();
        call->waited = {};
        limitTimer.start();
        // libcurl asks for its first timeout through OnTimer.
    }

    // f from the event loop, unless the driver is gone by then. The queued
    // call is the application's, not the driver's: f may destroy the driver.
    template <typename F>
    void Later(F f) {
        std::weak_ptr<int> token = alive;
        QTimer::singleShot(0, QCoreApplication::instance(), [token, f = std::move(f)]() mutable {
            if (!token.expired()) f();
        });
    }

    void Deliver() {
        limitTimer.stop();
        curlTimer.stop();
        // Delivered from the event loop, never from inside a libcurl callback
        // or a notifier's signal: done may destroy the client.
        Later([this] {
            std::unique_ptr<Call> finished = std::move(call);
            HttpDone callback = std::move(done);
            client.busy_ = false;
            if (callback) callback(std::move(finished->response));
        });
    }
};

void HttpClient::AsyncDriverDeleter::operator()(AsyncDriver* driver) const { delete driver; }

void HttpClient::Start(const HttpRequest& request, HttpDone done) {
    if (!async_) async_.reset(new AsyncDriver(*this));
    AsyncDriver& d = *async_;
    auto call = std::make_unique<Call>();
    call->request = request;
    if (!d.multi) {
        call->response.failure = HttpFailure::kTransfer;
        call->response.error = "libcurl could not be set up";
    } else if (BeginCall(*call)) {
        if (Abandoned()) {
            call->response.failure = HttpFailure::kAbandoned;
            call->response.error = FailureText(HttpFailure::kAbandoned);
        } else {
            busy_ = true;
            d.call = std::move(call);
            d.done = std::move(done);
            std::string error;
            HttpFailure f = BeginHop(*d.call, d.multi, error);
            if (f == HttpFailure::kNone)
                d.Attached();
            else
                d.HopEnded(f, std::move(error));
            return;
        }
    }
    // Refused before anything went out: answered from the event loop all the same.
    auto refused = std::make_shared<HttpResponse>(std::move(call->response));
    d.Later([refused, done = std::move(done)] {
        if (done) done(std::move(*refused));
    });
}

void HttpClient::Cancel() {
    if (!async_) return;
    // The driver goes with its notifiers, timers and queued calls.
    const bool mine = static_cast<bool>(async_->call);
    async_.reset();
    if (mine) busy_ = false;
}

}  // namespace zorvak
