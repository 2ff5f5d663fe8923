// A stand-in for the blacklist service, for tests: a TCP server on
// 127.0.0.1 with an ephemeral port, run by one thread of its own.
//
// It serves one connection at a time, in the order they arrive: it reads the
// 1,024-byte request block, records it byte for byte, picks the reply for the
// address in the request's "/api?ip=" field, sends it (in pieces if asked),
// shuts its sending side and then waits for the client to close, recording
// anything the client sends after its request. Every wait is bounded, and
// the destructor stops the service wherever it is.
//
// This header includes neither the host's socket headers nor our winsock2.h,
// so a test may include it together with either.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What the service sends back for one request.
struct FakeReply {
    std::string bytes;
    size_t piece = 0;    // sent in pieces of this many bytes; 0: in one go
    bool stall = false;  // held back, before any byte is sent, until Release()
};

// What the service saw on one connection.
struct FakeConnection {
    std::string request;       // the request block as received (1,024 bytes from our client)
    std::string address;       // the address field of the request
    std::string after_request; // bytes that came after the request block
    bool client_closed = false;  // the client closed its end before the service gave up
};

class FakeService {
public:
    static constexpr size_t kRequestSize = 1024;
    static constexpr int kDefaultTimeoutMs = 20000;

    FakeService();  // listening at once; aborts the test program if it cannot
    ~FakeService();
    FakeService(const FakeService &) = delete;
    FakeService &operator=(const FakeService &) = delete;

    uint16_t port() const { return port_; }  // host byte order

    // The real service's reply: <response success="true">, then one line
    // each for type, appears (yes or no), lastseen and frequency, each
    // opened by a tab, and </response>. The first letter of yes or no is
    // byte 53.
    static std::string ReplyText(bool listed);
    static FakeReply Listed(bool listed) { return FakeReply{ReplyText(listed)}; }

    // The reply for an address; a policy, when set, decides for every
    // address instead. Addresses without an answer get the default, which
    // starts as "not listed".
    void Answer(const std::string &address, FakeReply reply);
    void SetDefault(FakeReply reply);
    void SetPolicy(std::function<FakeReply(const std::string &address)> policy);

    // Lets every reply that is stalled now go on.
    void Release();

    // From now on connections to port() are refused: the listener closes and
    // a socket that never listens holds the port, so nothing else takes it.
    void StopListening();

    // The program's connections to its service address (port 80) come here.
    void RouteServiceHere() const;

    int Connections() const;       // connections accepted so far
    std::vector<FakeConnection> Log() const;  // one entry per served connection
    std::vector<std::string> Requests() const;

    // Each waits until the condition holds; false after timeout_ms.
    bool WaitForRequests(size_t n, int timeout_ms = kDefaultTimeoutMs) const;
    bool WaitForStalled(size_t n, int timeout_ms = kDefaultTimeoutMs) const;  // n stalled at once
    bool WaitForClientCloses(size_t n, int timeout_ms = kDefaultTimeoutMs) const;
    bool WaitForServed(size_t n, int timeout_ms = kDefaultTimeoutMs) const;  // n connections done

private:
    template <class Pred>
    bool WaitFor(Pred pred, int timeout_ms) const;
    void Run();
    void Serve(int fd);
    bool Control();  // handles requests from other threads; false once stopping
    bool stopping();
    // Waits for fd: 1 ready, 0 woken by another thread, -1 give up (time is
    // out, or the service stops). WaitReady waits through wake-ups.
    int WaitOnce(int fd, short events, int64_t deadline_ms);
    bool WaitReady(int fd, short events, int64_t deadline_ms);
    FakeReply ReplyFor(const std::string &address);

    int listener_ = -1;
    int kick_ = -1;  // eventfd that wakes the service thread
    uint16_t port_ = 0;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<std::string, FakeReply> answers_;
    FakeReply default_reply_;
    std::function<FakeReply(const std::string &)> policy_;
    uint64_t release_generation_ = 0;
    bool stop_listening_ = false;
    bool listening_ = true;
    bool stopping_ = false;
    int connections_ = 0;
    size_t requests_read_ = 0;
    size_t stalled_ = 0;
    size_t served_ = 0;
    std::vector<FakeConnection> log_;

    std::thread thread_;
};

// The route helpers behind RouteServiceHere, for tests that steer the
// program's connections themselves. Ports in host byte order.
void RouteServiceTo(uint16_t port);  // to 127.0.0.1:port
void RouteServiceRefused();          // every connection to the service is refused
void ClearServiceRoutes();

// Network byte order values as a sockaddr_in holds them, for tests that fill
// one without the layer's own conversions.
uint16_t NetworkPort(uint16_t port);
uint32_t NetworkIpv4(const char *dotted);  // four decimal parts; 0 for malformed text
