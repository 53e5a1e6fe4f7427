// Runs the real roffscript binary as a user's shell would, with its standard
// streams wired as each test asks, and collects what it wrote.

#ifndef ROFFSCRIPT_TESTS_PROGRAM_H
#define ROFFSCRIPT_TESTS_PROGRAM_H

#include <functional>
#include <string>
#include <vector>

struct Invocation {
    std::vector<std::string> args;   // after the program's name
    // Standard input: `input` through a pipe, unless `stdin_path` names a
    // file to open instead, starting `stdin_offset` bytes in.
    std::string input;
    std::string stdin_path;
    long stdin_offset = 0;
    // Standard input a terminal: `input` is typed into it, then one
    // end-of-file key, and the terminal stays open.
    bool stdin_terminal = false;
    // Standard output: a pipe read by the test, unless `stdout_path` names a
    // file to write to; `close_stdout` leaves it closed, and
    // `stdout_reader_gone` closes the pipe's reading end before the start.
    std::string stdout_path;
    bool stdout_at_end = false;   // written at the end of what stdout_path holds
    bool stdout_append = false;   // opened to append, as the shell's >> opens it
    bool close_stdout = false;
    bool stdout_reader_gone = false;
    bool ignore_sigpipe = false;
    bool ignore_sigxfsz = false;
    long max_file_size = -1;
    // Runs the program with /tmp read-only (its files, the program among
    // them where the build lives there, still readable), in a mount
    // namespace of its own;
    // the outcome's status is kNoNamespace where that is not allowed here.
    bool read_only_tmp = false;
    std::vector<std::string> environment;   // NAME=VALUE, added to the test's own
    // Called once, while the program waits, when its first output arrives.
    std::function<void()> on_first_output;
    // Called once the program has started, with its process id, before
    // anything is fed to it or read from it.
    std::function<void(int pid)> on_start;
};

constexpr int kNoNamespace = 77;
constexpr int kTimedOut = -2;

struct Outcome {
    std::string out;
    std::string err;
    int status = -1;   // the exit status, or 128 plus the signal; kTimedOut when killed for hanging
};

Outcome run_roffscript(const Invocation &run);

// A file that the test owns and removes.
struct TempFile {
    explicit TempFile(const std::string &contents);
    ~TempFile();
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    std::string path;
};

#endif
