// The blacklist exchange without a network: replaces the layer's socket
// calls (compat_os.h) with an in-memory service, so tests and fuzz targets
// can run tens of thousands of queries in a moment. Every connection takes
// the 1,024-byte request and answers with the real service's reply shape.
//
//     MemoryNetwork net;                     // installed for its lifetime
//     net.SetListed([](const std::string &a) { return a == "1.2.3.4"; });
//     ... run the check ...
//     net.Addresses();                       // every address asked, in order
//
// Only one may exist at a time, and it must be made and destroyed while no
// socket call is in progress.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

class MemoryNetwork {
public:
    MemoryNetwork();
    ~MemoryNetwork();
    MemoryNetwork(const MemoryNetwork &) = delete;
    MemoryNetwork &operator=(const MemoryNetwork &) = delete;

    // Which addresses are listed (default: none).
    void SetListed(std::function<bool(const std::string &)> listed);
    // Which connections are refused, by their number counted from 0 in the
    // order they are made (default: none). The address is not known yet
    // when a connection is made: it comes with the request.
    void SetRefused(std::function<bool(size_t connection)> refused);
    // Bytes to answer with instead of the service's reply (for every address).
    void SetRawReply(const std::string &bytes);

    // Addresses of the requests received, in order. A refused connection
    // carries no request and is not listed.
    std::vector<std::string> Addresses() const;
    size_t Connections() const;  // made or refused

private:
    friend struct MemoryNetworkCalls;
    mutable std::mutex mutex_;
    std::function<bool(const std::string &)> listed_;
    std::function<bool(size_t)> refused_;
    std::string raw_reply_;
    bool raw_ = false;
    std::vector<std::string> addresses_;
    size_t connections_ = 0;
};

// The address field of a request block: what follows "/api?ip=" up to the
// line feed that ends the request line.
std::string RequestAddress(const std::string &request);
