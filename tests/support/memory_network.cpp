#include "memory_network.h"

#include <compat_os.h>
#include <errno.h>

#include <cstring>
#include <map>

#include "fake_service.h"

namespace {

MemoryNetwork *installed = nullptr;

// Per descriptor: the request so far and what is left of the reply.
struct Exchange {
    std::string request;
    std::string reply;
    bool answered = false;
};
std::map<int, Exchange> exchanges;
int next_fd = 1 << 20;  // far above any real descriptor

}  // namespace

struct MemoryNetworkCalls {
    static int tcp_socket() {
        std::lock_guard<std::mutex> lock(installed->mutex_);
        int fd = next_fd++;
        exchanges[fd] = Exchange();
        return fd;
    }
    static int connect_ipv4(int, uint32_t, uint16_t) {
        std::lock_guard<std::mutex> lock(installed->mutex_);
        size_t number = installed->connections_++;
        if (installed->refused_ && installed->refused_(number)) {
            errno = ECONNREFUSED;
            return -1;
        }
        return 0;
    }
    static int pending_error(int) { return 0; }
    static ptrdiff_t send_bytes(int fd, const void *data, size_t len) {
        std::lock_guard<std::mutex> lock(installed->mutex_);
        exchanges[fd].request.append(static_cast<const char *>(data), len);
        return static_cast<ptrdiff_t>(len);
    }
    static ptrdiff_t recv_bytes(int fd, void *data, size_t len) {
        std::lock_guard<std::mutex> lock(installed->mutex_);
        Exchange &e = exchanges[fd];
        if (!e.answered) {
            e.answered = true;
            std::string address = RequestAddress(e.request);
            installed->addresses_.push_back(address);
            bool listed = installed->listed_ && installed->listed_(address);
            e.reply = installed->raw_ ? installed->raw_reply_ : FakeService::ReplyText(listed);
        }
        size_t n = std::min(len, e.reply.size());
        memcpy(data, e.reply.data(), n);
        e.reply.erase(0, n);
        return static_cast<ptrdiff_t>(n);
    }
    static int close_fd(int fd) {
        std::lock_guard<std::mutex> lock(installed->mutex_);
        exchanges.erase(fd);
        return 0;
    }
};

MemoryNetwork::MemoryNetwork() {
    installed = this;
    exchanges.clear();
    CompatOsCalls *calls = CompatGetOsCalls();
    calls->tcp_socket = MemoryNetworkCalls::tcp_socket;
    calls->connect_ipv4 = MemoryNetworkCalls::connect_ipv4;
    calls->pending_error = MemoryNetworkCalls::pending_error;
    calls->send_bytes = MemoryNetworkCalls::send_bytes;
    calls->recv_bytes = MemoryNetworkCalls::recv_bytes;
    calls->close_fd = MemoryNetworkCalls::close_fd;
}

MemoryNetwork::~MemoryNetwork() {
    CompatRestoreOsCalls();
    exchanges.clear();
    installed = nullptr;
}

void MemoryNetwork::SetListed(std::function<bool(const std::string &)> listed) {
    std::lock_guard<std::mutex> lock(mutex_);
    listed_ = std::move(listed);
}

void MemoryNetwork::SetRefused(std::function<bool(size_t)> refused) {
    std::lock_guard<std::mutex> lock(mutex_);
    refused_ = std::move(refused);
}

void MemoryNetwork::SetRawReply(const std::string &bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    raw_reply_ = bytes;
    raw_ = true;
}

std::vector<std::string> MemoryNetwork::Addresses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return addresses_;
}

size_t MemoryNetwork::Connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}

std::string RequestAddress(const std::string &request) {
    static const char kField[] = "/api?ip=";
    size_t at = request.find(kField);
    if (at == std::string::npos) return std::string();
    at += sizeof kField - 1;
    size_t end = request.find('\n', at);
    return request.substr(at, end == std::string::npos ? std::string::npos : end - at);
}
