// The program's start-up on POSIX: without a display it can open it says
// so in one line and ends as a program whose main window cannot be
// created, with exit code 1. The terminal display needs a TTY on standard
// input and output and a TERM the terminal database knows.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

extern char **environ;

namespace {

struct Ended {
    int code = -1;
    std::string err;
};

struct Start {
    const char *display;  // QV_DISPLAY; null: unset
    bool on_pty;          // standard input and output a pseudo-terminal; else input closed
    const char *term;     // TERM, with on_pty; null: unset
};

// Runs the program as start says; collects its standard error and exit
// code.
Ended RunProgram(const Start &start) {
    Ended out;
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e)
        if (strncmp(*e, "QV_DISPLAY=", 11) != 0 && strncmp(*e, "TERM=", 5) != 0)
            env.push_back(*e);
    if (start.display) env.push_back(std::string("QV_DISPLAY=") + start.display);
    if (start.on_pty && start.term) env.push_back(std::string("TERM=") + start.term);
    std::vector<char *> envp;
    for (std::string &s : env) envp.push_back(s.data());
    envp.push_back(nullptr);

    int err[2];
    if (pipe2(err, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe";
        return out;
    }
    int pty_master = -1, pty_slave = -1;
    if (start.on_pty && openpty(&pty_master, &pty_slave, nullptr, nullptr, nullptr) != 0) {
        ADD_FAILURE() << "openpty";
        return out;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    if (start.on_pty) {
        posix_spawn_file_actions_adddup2(&actions, pty_slave, 0);
        posix_spawn_file_actions_adddup2(&actions, pty_slave, 1);
        posix_spawn_file_actions_addclose(&actions, pty_master);
    } else {
        posix_spawn_file_actions_addclose(&actions, 0);
    }
    char program[] = QV_PROGRAM;
    char *argv[] = {program, nullptr};
    pid_t pid;
    int rc = posix_spawn(&pid, program, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(err[1]);
    if (pty_slave >= 0) close(pty_slave);
    if (rc != 0) {
        close(err[0]);
        ADD_FAILURE() << "cannot start " << program;
        return out;
    }
    // The program ends on its own; its standard error closes when it does.
    for (;;) {
        pollfd p{err[0], POLLIN, 0};
        if (poll(&p, 1, 60000) <= 0) {
            ADD_FAILURE() << "the program did not end";
            kill(pid, SIGKILL);
            break;
        }
        char buffer[4096];
        ssize_t n = read(err[0], buffer, sizeof buffer);
        if (n <= 0) break;
        out.err.append(buffer, static_cast<size_t>(n));
    }
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (pty_master >= 0) close(pty_master);
    if (WIFEXITED(status)) out.code = WEXITSTATUS(status);
    return out;
}

TEST(Startup, WithoutADisplayTheProgramEndsWithCodeOne) {
    struct Case {
        const char *name;
        Start start;
        const char *says;  // a part of its one line
    } cases[] = {
        {"unset, no TTY", {nullptr, false, nullptr}, "no terminal: standard input and output"},
        {"terminal, no TTY", {"terminal", false, nullptr}, "must be a terminal"},
        {"an unknown name is the terminal", {"x11:0", false, nullptr}, "must be a terminal"},
        {"a TTY without TERM", {nullptr, true, nullptr}, "no terminal: TERM is not set"},
        {"a TTY with an empty TERM", {"terminal", true, ""}, "TERM is not set"},
        {"a TERM nobody knows", {nullptr, true, "no-such-terminal-9"},
         "TERM=no-such-terminal-9 is a terminal type this system does not know"},
        {"a TERM that cannot place the cursor", {nullptr, true, "dumb"},
         "TERM=dumb cannot place the cursor"},
        {"automation without a channel", {"automation", false, nullptr}, "fd=N"},
        {"automation with an empty channel", {"automation:fd=", false, nullptr}, "fd=N"},
        {"automation with a bad number", {"automation:fd=3x", false, nullptr},
         "names no descriptor"},
        {"automation with a closed descriptor", {"automation:fd=37", false, nullptr},
         "descriptor 37"},
    };
    for (const Case &c : cases) {
        Ended e = RunProgram(c.start);
        EXPECT_EQ(e.code, 1) << c.name;
        EXPECT_NE(e.err.find(c.says), std::string::npos) << c.name << ": " << e.err;
        EXPECT_EQ(e.err.compare(0, 10, "quorvane: "), 0) << c.name << ": " << e.err;
        EXPECT_EQ(std::count(e.err.begin(), e.err.end(), '\n'), 1) << c.name << ": " << e.err;
    }
}

}  // namespace
