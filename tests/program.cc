// Starting roffscript in a child process and talking to it through pipes.
// The parent feeds standard input and drains both output pipes in one poll
// loop, so a large input or output can never deadlock the two.

#include "program.h"

#include <cerrno>
#include <cstring>
#include <csignal>
#include <cstdlib>
#include <stdexcept>

#include <fcntl.h>
#include <termios.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void check(bool ok, const char *what)
{
    if (!ok)
        throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

void set_limit(int resource, long value)
{
    if (value < 0)
        return;
    struct rlimit limit = {static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
    setrlimit(resource, &limit);
}

[[noreturn]] void become_roffscript(const Invocation &run, int in_fd, int out_fd, int err_fd)
{
    if (run.ignore_sigpipe)
        signal(SIGPIPE, SIG_IGN);
    if (run.ignore_sigxfsz)
        signal(SIGXFSZ, SIG_IGN);
    dup2(in_fd, 0);
    if (run.close_stdout)
        close(1);
    else
        dup2(out_fd, 1);
    dup2(err_fd, 2);
    for (int fd = 3; fd < 64; ++fd)
        close(fd);
    set_limit(RLIMIT_FSIZE, run.max_file_size);
    for (const std::string &variable : run.environment)
        putenv(const_cast<char *>(variable.c_str()));
    if (run.read_only_tmp &&
        (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
         mount("/tmp", "/tmp", nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
         mount(nullptr, "/tmp", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0))
        _exit(kNoNamespace);
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>("roffscript"));
    for (const std::string &arg : run.args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    execv(ROFFSCRIPT_BINARY, argv.data());
    _exit(127);
}

}  // namespace

Outcome run_roffscript(const Invocation &run)
{
    int in_pipe[2] = {-1, -1}, out_pipe[2] = {-1, -1}, err_pipe[2];
    int in_fd, out_fd;
    int terminal = -1;   // the terminal's other end, which the test types into
    if (run.stdin_terminal) {
        terminal = posix_openpt(O_RDWR | O_NOCTTY);
        check(terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0, "pseudo-terminal");
        in_fd = open(ptsname(terminal), O_RDWR | O_NOCTTY);
        check(in_fd >= 0, "open terminal");
        std::string typed = run.input + static_cast<char>(CEOF);
        check(write(terminal, typed.data(), typed.size()) == static_cast<ssize_t>(typed.size()), "type");
    } else if (run.stdin_path.empty()) {
        check(pipe(in_pipe) == 0, "pipe");
        in_fd = in_pipe[0];
    } else {
        in_fd = open(run.stdin_path.c_str(), O_RDONLY);
        check(in_fd >= 0, "open stdin");
        check(lseek(in_fd, run.stdin_offset, SEEK_SET) == run.stdin_offset, "lseek");
    }
    if (run.stdout_path.empty()) {
        check(pipe(out_pipe) == 0, "pipe");
        out_fd = out_pipe[1];
    } else {
        out_fd = open(run.stdout_path.c_str(), O_WRONLY | (run.stdout_append ? O_APPEND : 0));
        check(out_fd >= 0, "open stdout");
        check(!run.stdout_at_end || lseek(out_fd, 0, SEEK_END) >= 0, "lseek");
    }
    check(pipe(err_pipe) == 0, "pipe");
    if (run.stdout_reader_gone) {
        close(out_pipe[0]);
        out_pipe[0] = -1;
    }

    pid_t child = fork();
    check(child >= 0, "fork");
    if (child == 0)
        become_roffscript(run, in_fd, out_fd, err_pipe[1]);
    close(in_fd);
    close(out_fd);
    close(err_pipe[1]);
    if (run.on_start)
        run.on_start(child);

    Outcome outcome;
    std::size_t written = 0;
    struct pollfd fds[3] = {{in_pipe[1], POLLOUT, 0}, {out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string *sinks[3] = {nullptr, &outcome.out, &outcome.err};
    if (fds[0].fd >= 0 && run.input.empty()) {
        close(fds[0].fd);
        fds[0].fd = -1;
    }
    // A child that ignores SIGPIPE may still stop reading early; the parent
    // must not die of it either.
    signal(SIGPIPE, SIG_IGN);
    bool first_output = true;
    constexpr int kPatienceMs = 60 * 1000;   // a program that hangs is killed after this
    while (fds[0].fd >= 0 || fds[1].fd >= 0 || fds[2].fd >= 0) {
        int ready = poll(fds, 3, kPatienceMs);
        check(ready >= 0 || errno == EINTR, "poll");
        if (ready == 0) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            outcome.status = kTimedOut;
            for (struct pollfd &fd : fds)
                if (fd.fd >= 0)
                    close(fd.fd);
            if (terminal >= 0)
                close(terminal);
            return outcome;
        }
        if (fds[0].fd >= 0 && (fds[0].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t n = write(fds[0].fd, run.input.data() + written, run.input.size() - written);
            if (n > 0)
                written += static_cast<std::size_t>(n);
            if (n < 0 || written == run.input.size()) {
                close(fds[0].fd);
                fds[0].fd = -1;
            }
        }
        for (int i = 1; i < 3; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLERR | POLLHUP)))
                continue;
            char chunk[65536];
            ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                sinks[i]->append(chunk, static_cast<std::size_t>(n));
                if (i == 1 && first_output && run.on_first_output) {
                    first_output = false;
                    run.on_first_output();
                }
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
    }
    int status;
    check(waitpid(child, &status, 0) == child, "waitpid");
    if (terminal >= 0)
        close(terminal);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return outcome;
}

TempFile::TempFile(const std::string &contents)
{
    char name[] = "/tmp/roffscript-test-XXXXXX";
    int fd = mkstemp(name);
    check(fd >= 0, "mkstemp");
    path = name;
    std::size_t done = 0;
    while (done < contents.size()) {
        ssize_t n = write(fd, contents.data() + done, contents.size() - done);
        check(n > 0, "write");
        done += static_cast<std::size_t>(n);
    }
    close(fd);
}

TempFile::~TempFile()
{
    unlink(path.c_str());
}
