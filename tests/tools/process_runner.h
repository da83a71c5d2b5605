// Runs a program as the tests of the kelmo tool do: arguments as given (no
// shell), in a chosen working folder, with its standard output and error
// captured and its exit status returned.
#pragma once

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelmo::test {

struct ProcessResult {
    int exitCode = -1;  // -1 when ended by a signal
    int signal = 0;
    std::string out;
    std::string err;
};

// Starts `argv` in `workingFolder`; when `stopAfterSeconds` > 0 the process
// receives SIGINT after that long.
inline ProcessResult runProcess(const std::vector<std::string> &argv, const std::string &workingFolder = ".",
                                double stopAfterSeconds = 0.0) {
    int outPipe[2], errPipe[2];
    ProcessResult result;
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return result;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]), close(outPipe[1]), close(errPipe[0]), close(errPipe[1]);
        if (chdir(workingFolder.c_str()) != 0) _exit(127);
        std::vector<char *> args;
        for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(outPipe[1]), close(errPipe[1]);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    bool stopped = false;
    const auto start = std::chrono::steady_clock::now();
    while (open > 0) {
        int timeoutMs = -1;
        if (stopAfterSeconds > 0 && !stopped) {
            const double left =
                stopAfterSeconds - std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            timeoutMs = left > 0 ? static_cast<int>(left * 1000) + 1 : 0;
        }
        const int ready = poll(fds, 2, timeoutMs);
        if (ready == 0 && !stopped) {
            kill(pid, SIGINT);
            stopped = true;
            continue;
        }
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fds[k].fd);
                fds[k].fd = -1;
                --open;
            } else {
                (k == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

}  // namespace kelmo::test
