// The automation display back end: a server thread inside the program that
// takes one request line at a time from a descriptor it inherited (a socket
// or a pipe pair) and writes one reply per request. It shows nothing; it
// reads what windows show through the display seam and turns requests into
// input posted to the windows' threads. PROTOCOL.md describes the lines.
#pragma once

#include <string>

namespace compat {
namespace automation {

// Takes over fd (read and write) and starts serving it. False, with the
// reason in *error, when fd is unusable or the thread cannot start.
bool start_server(int fd, std::string *error);

// Stops the server wherever it is (a request under way is abandoned) and
// closes the descriptor. Safe when it never started.
void stop_server();

// From now on the end of every layer thread moves the window change count
// on (after the thread counts as ended), so `wait` sees it too.
void signal_thread_ends();

// Answers one request line (without its line end) as the server would, on
// the calling thread; the reply holds every line, each ending in '\n'. For
// tests of the commands within one process.
std::string answer_request(const std::string &line);

}  // namespace automation
}  // namespace compat
