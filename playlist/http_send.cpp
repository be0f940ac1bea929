// The waiting driver of HttpClient: Send() and Get() poll libcurl on the
// client's own multi handle and run the event pump between the polls.
#include <algorithm>
#include <exception>

#include "http_engine.h"

namespace zorvak {

HttpResponse HttpClient::Get(const std::string& url) {
    HttpRequest request;
    request.url = url;
    return Send(request);
}

HttpResponse HttpClient::Send(const HttpRequest& request) {
    Call call;
    call.request = request;
    if (!BeginCall(call)) return std::move(call.response);
    busy_ = true;
    struct BusyReset {
        bool& flag;
        ~BusyReset() { flag = false; }
    } reset{busy_};
    struct DetachOnExit {
        HttpClient& client;
        Call& call;
        ~DetachOnExit() { client.Detach(call); }
    } detach{*this, call};

    while (true) {
        std::string error;
        HttpFailure f = BeginHop(call, multi_, error);
        if (f == HttpFailure::kNone) {
            f = Perform(call, error);
            Detach(call);
            if (call.transfer->thrown) std::rethrow_exception(call.transfer->thrown);
        }
        if (EndHop(call, f, std::move(error)) == HopEnd::kDone) return std::move(call.response);
    }
}

HttpFailure HttpClient::Perform(Call& call, std::string& error) {
    using std::chrono::milliseconds;
    Transfer& t = *call.transfer;
    CURL* easy = Easy(easy_);
    CURLM* multi = Multi(multi_);

    call.waited = {};  // time without progress, outside the pump
    CURLcode result = CURLE_OK;
    while (true) {
        const auto begin = clock_.Now();
        int running = 0;
        curl_multi_perform(multi, &running);
        bool done = false;
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
                done = true;
                result = msg->data.result;
            }
        }
        if (done) break;
        milliseconds limit = t.connected ? limits_.stall : limits_.connect;
        auto left = std::chrono::duration_cast<milliseconds>(limit - call.waited);
        int wait = static_cast<int>(std::clamp<milliseconds>(left, milliseconds(1), kPumpInterval).count());
        curl_multi_poll(multi, nullptr, 0, wait, nullptr);
        HttpFailure reached = CountTime(call, clock_.Now() - begin, error);
        if (reached != HttpFailure::kNone) return reached;
        pump_.Pump();
        if (Abandoned()) return HttpFailure::kAbandoned;
    }
    return Outcome(t, result, error);
}

}  // namespace zorvak
