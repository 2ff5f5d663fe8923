#include "fake_service.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "host_socket.h"

namespace {

// How long each phase of a connection may take before the service gives up
// on it: reading the request, sending the reply, waiting for the client to
// close. A stall may last longer, since a test holds it on purpose.
constexpr int kPhaseMs = 20000;
constexpr int kStallMs = 120000;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

[[noreturn]] void Die(const char *what) {
    std::perror(what);
    std::abort();
}

std::string AddressOf(const std::string &request) {
    static const char kField[] = "/api?ip=";
    size_t start = request.find(kField);
    if (start == std::string::npos) return "";
    start += sizeof kField - 1;
    size_t end = request.find('\n', start);
    return request.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

FakeService::FakeService() {
    kick_ = HostMakeKick();
    if (kick_ < 0) Die("fake service: wake-up descriptor");
    listener_ = HostBoundSocket(0);
    if (listener_ < 0 || !HostListen(listener_, 64)) Die("fake service: listen");
    port_ = HostLocalPort(listener_);
    if (port_ == 0) Die("fake service: local port");
    default_reply_ = Listed(false);
    thread_ = std::thread([this] { Run(); });
}

FakeService::~FakeService() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    HostKick(kick_);
    thread_.join();
    if (listener_ >= 0) HostClose(listener_);
    HostCloseKick(kick_);
}

std::string FakeService::ReplyText(bool listed) {
    std::string text = "<response success=\"true\">\n\t<type>ip</type>\n\t<appears>";
    text += listed ? "yes" : "no";
    text += "</appears>\n";
    if (listed) text += "\t<lastseen>2024-05-01 10:12:33</lastseen>\n";
    text += listed ? "\t<frequency>17</frequency>\n" : "\t<frequency>0</frequency>\n";
    text += "</response>\n";
    return text;
}

void FakeService::Answer(const std::string &address, FakeReply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[address] = std::move(reply);
}

void FakeService::SetDefault(FakeReply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    default_reply_ = std::move(reply);
}

void FakeService::SetPolicy(std::function<FakeReply(const std::string &)> policy) {
    std::lock_guard<std::mutex> lock(mutex_);
    policy_ = std::move(policy);
}

void FakeService::Release() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        release_generation_++;
    }
    HostKick(kick_);
}

void FakeService::StopListening() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_listening_ = true;
    }
    HostKick(kick_);
    WaitFor([this] { return !listening_; }, kDefaultTimeoutMs);
}

void FakeService::RouteServiceHere() const { RouteServiceTo(port_); }

int FakeService::Connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}

std::vector<FakeConnection> FakeService::Log() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

std::vector<std::string> FakeService::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> requests;
    for (const FakeConnection &c : log_) requests.push_back(c.request);
    return requests;
}

template <class Pred>
bool FakeService::WaitFor(Pred pred, int timeout_ms) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), pred);
}

bool FakeService::WaitForRequests(size_t n, int timeout_ms) const {
    // A request counts once it has been read in full (or its client gave up).
    return WaitFor([&] { return requests_read_ >= n; }, timeout_ms);
}

bool FakeService::WaitForStalled(size_t n, int timeout_ms) const {
    return WaitFor([&] { return stalled_ >= n; }, timeout_ms);
}

bool FakeService::WaitForClientCloses(size_t n, int timeout_ms) const {
    return WaitFor(
        [&] {
            return static_cast<size_t>(std::count_if(log_.begin(), log_.end(), [](const FakeConnection &c) {
                       return c.client_closed;
                   })) >= n;
        },
        timeout_ms);
}

bool FakeService::WaitForServed(size_t n, int timeout_ms) const {
    return WaitFor([&] { return served_ >= n; }, timeout_ms);
}

bool FakeService::Control() {
    HostDrainKick(kick_);
    std::lock_guard<std::mutex> lock(mutex_);
    if (stop_listening_ && listening_) {
        HostClose(listener_);
        // Held but never listening: connections to the port are refused.
        listener_ = HostBoundSocket(port_);
        listening_ = false;
        changed_.notify_all();
    }
    return !stopping_;
}

int FakeService::WaitOnce(int fd, short events, int64_t deadline_ms) {
    for (;;) {
        int64_t left = deadline_ms - NowMs();
        if (left <= 0) return -1;
        HostPollEntry fds[2] = {{fd, events, 0}, {kick_, kHostReadable, 0}};
        int r = HostPoll(fds, 2, static_cast<int>(left));
        if (r < 0) return -1;
        if (r <= 0) continue;
        if (fds[1].revents && !Control()) return -1;
        if (fds[0].revents) return 1;
        return 0;
    }
}

bool FakeService::WaitReady(int fd, short events, int64_t deadline_ms) {
    int r;
    while ((r = WaitOnce(fd, events, deadline_ms)) == 0) {
    }
    return r > 0;
}

FakeReply FakeService::ReplyFor(const std::string &address) {
    std::function<FakeReply(const std::string &)> policy;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!policy_) {
            auto it = answers_.find(address);
            return it == answers_.end() ? default_reply_ : it->second;
        }
        policy = policy_;
    }
    return policy(address);  // outside the lock: the policy may call back into us
}

void FakeService::Run() {
    while (Control()) {
        if (!listening_) {
            HostPollEntry kick = {kick_, kHostReadable, 0};
            HostPoll(&kick, 1, -1);
            continue;
        }
        HostPollEntry fds[2] = {{listener_, kHostReadable, 0}, {kick_, kHostReadable, 0}};
        if (HostPoll(fds, 2, -1) <= 0 || !fds[0].revents) continue;
        int fd = HostAccept(listener_);
        if (fd < 0) continue;
        Serve(fd);
        HostClose(fd);
    }
}

void FakeService::Serve(int fd) {
    size_t index;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connections_++;
        log_.emplace_back();
        index = log_.size() - 1;
        changed_.notify_all();
    }
    char buf[4096];
    bool closed = false;  // the client's end is gone
    bool live = true;     // the service goes on with this connection

    std::string request;
    int64_t deadline = NowMs() + kPhaseMs;
    while (live && request.size() < kRequestSize) {
        if (!WaitReady(fd, kHostReadable, deadline)) {
            live = false;
            break;
        }
        ptrdiff_t n = HostRecv(fd, buf, std::min(sizeof buf, kRequestSize - request.size()));
        if (n > 0) {
            request.append(buf, static_cast<size_t>(n));
        } else if (n == 0 || !HostRetryLater()) {
            closed = true;
        }
        if (closed) break;
    }
    const std::string address = AddressOf(request);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        log_[index].request = request;
        log_[index].address = address;
        requests_read_++;
        changed_.notify_all();
    }

    std::string after;
    // Reads what the client sends now; false once its end is gone.
    auto take_input = [&]() {
        ptrdiff_t n = HostRecv(fd, buf, sizeof buf);
        if (n > 0) {
            after.append(buf, static_cast<size_t>(n));
            return true;
        }
        if (n < 0 && HostRetryLater()) return true;
        closed = true;  // orderly close, or a reset from a client that stopped reading
        return false;
    };

    FakeReply reply;
    if (live && !closed) reply = ReplyFor(address);

    if (live && !closed && reply.stall) {
        uint64_t generation;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            generation = release_generation_;
            stalled_++;
            changed_.notify_all();
        }
        const int64_t stall_deadline = NowMs() + kStallMs;
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (release_generation_ != generation) break;
            }
            const int r = WaitOnce(fd, kHostReadable, stall_deadline);
            if (r < 0) {
                live = false;
                break;
            }
            if (r > 0 && !take_input()) break;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        stalled_--;
        changed_.notify_all();
    }

    if (live && !closed) {
        const std::string &bytes = reply.bytes;
        const size_t piece = reply.piece ? reply.piece : std::max<size_t>(bytes.size(), 1);
        deadline = NowMs() + kPhaseMs;
        size_t sent = 0;
        while (live && sent < bytes.size()) {
            const size_t end = std::min(bytes.size(), sent + piece);
            while (sent < end) {
                if (!WaitReady(fd, kHostWritable, deadline)) {
                    live = false;
                    break;
                }
                ptrdiff_t n = HostSend(fd, bytes.data() + sent, end - sent);
                if (n > 0) {
                    sent += static_cast<size_t>(n);
                } else if (n < 0 && !HostRetryLater()) {
                    live = false;  // the client has gone, e.g. after cutting the reply
                    break;
                }
            }
        }
    }

    // The end of the reply is the service closing its side; then it waits
    // for the client to close too.
    HostShutdownWrite(fd);
    deadline = NowMs() + kPhaseMs;
    while (!closed && !stopping() && WaitReady(fd, kHostReadable, deadline))
        if (!take_input()) break;

    std::lock_guard<std::mutex> lock(mutex_);
    log_[index].after_request += after;
    log_[index].client_closed = closed;
    served_++;
    changed_.notify_all();
}

bool FakeService::stopping() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
}

