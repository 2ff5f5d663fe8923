// The program's start-up on POSIX: without a display it can open it says
// so in one line and ends as a program whose main window cannot be
// created, with exit code 1.
#include <fcntl.h>
#include <poll.h>
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

// Runs the program with QV_DISPLAY set to display (null: unset) and its
// standard input closed; collects its standard error and exit code.
Ended RunWithDisplay(const char *display) {
    Ended out;
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e)
        if (strncmp(*e, "QV_DISPLAY=", 11) != 0) env.push_back(*e);
    if (display) env.push_back(std::string("QV_DISPLAY=") + display);
    std::vector<char *> envp;
    for (std::string &s : env) envp.push_back(s.data());
    envp.push_back(nullptr);

    int err[2];
    if (pipe2(err, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe";
        return out;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, 0);
    char program[] = QV_PROGRAM;
    char *argv[] = {program, nullptr};
    pid_t pid;
    int rc = posix_spawn(&pid, program, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(err[1]);
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
    if (WIFEXITED(status)) out.code = WEXITSTATUS(status);
    return out;
}

TEST(Startup, WithoutADisplayTheProgramEndsWithCodeOne) {
    struct Case {
        const char *display;
        const char *says;  // a part of its one line
    } cases[] = {
        {nullptr, "QV_DISPLAY=automation:fd=N"},
        {"terminal", "terminal display is not built yet"},
        {"x11:0", "terminal display is not built yet"},
        {"automation", "fd=N"},
        {"automation:fd=", "fd=N"},
        {"automation:fd=3x", "names no descriptor"},
        {"automation:fd=37", "descriptor 37"},  // not open in the program
    };
    for (const Case &c : cases) {
        const char *name = c.display ? c.display : "(unset)";
        Ended e = RunWithDisplay(c.display);
        EXPECT_EQ(e.code, 1) << name;
        EXPECT_NE(e.err.find(c.says), std::string::npos) << name << ": " << e.err;
        EXPECT_EQ(e.err.compare(0, 10, "quorvane: "), 0) << name << ": " << e.err;
        EXPECT_EQ(std::count(e.err.begin(), e.err.end(), '\n'), 1) << name << ": " << e.err;
    }
}

}  // namespace
