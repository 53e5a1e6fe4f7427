// The output gate: the block that gathers the script, where a script too
// long for it is held, and the way out to standard output at the end.
//
// The translators put their commands straight into the block, in room asked
// for once per line.  A line asks for the most its commands could take, which
// can be far more than they do take: where that room is not left in the
// block, the line is put in the gate's scratch block instead and copied
// behind what the block holds, so that the block is let go only when it is
// truly full.  A full block goes to the temporary file that holds the
// script, or, where standard output may be written straight, to standard
// output.  During the checking pass every line is put in the scratch block
// and goes no further.

#include "output.h"

#include "messages.h"
#include "temporary.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Where the full blocks of a script go until the run has passed its checks.
enum class Holding {
    kInTemporaryFile,   // held there, and handed on at the end
    kStraight,          // written to standard output, which can be cut back
};

struct Gate {
    char block[kOutputBlockSize];
    std::size_t block_length = 0;
    // The checking pass's room, and the output pass's for a line whose
    // room is not left in the block.
    char scratch[kOutputBlockSize];
    bool writing = false;
    bool line_in_scratch = false;
    bool failed = false;
    Holding holding = Holding::kInTemporaryFile;
    int held_fd = -1;                 // the temporary file, once a block went there
    std::uint64_t held_length = 0;
    off_t output_start = -1;          // the size of standard output's file, when straight
    bool wrote_straight = false;
};
Gate gate;

#ifdef ROFFSCRIPT_SELF_CHECKS
const char *output_room_start = gate.scratch;
const char *output_room_end = gate.scratch;
#endif

bool same_file(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether standard output may be written straight during the run.  A
// regular file whose end it is written at can be cut back to its size if
// the run fails; what goes to /dev/null no one can see.  Not where standard
// error writes into the same file: cutting it back would take the message
// that says why with it.
Holding choose_holding()
{
    struct stat output, null_device, errors;
    int fd = fileno(stdout);
    if (fd < 0 || fstat(fd, &output) != 0)
        return Holding::kInTemporaryFile;
    gate.output_start = -1;
    if (S_ISCHR(output.st_mode))
        return stat("/dev/null", &null_device) == 0 && output.st_rdev == null_device.st_rdev
                   ? Holding::kStraight : Holding::kInTemporaryFile;
    if (!S_ISREG(output.st_mode))
        return Holding::kInTemporaryFile;
    int flags = fcntl(fd, F_GETFL);
    off_t position = lseek(fd, 0, SEEK_CUR);
    if (flags < 0 || (flags & O_APPEND) != 0 || position != output.st_size)
        return Holding::kInTemporaryFile;
    int error_fd = fileno(stderr);
    if (error_fd >= 0 && fstat(error_fd, &errors) == 0 && same_file(output, errors))
        return Holding::kInTemporaryFile;
    gate.output_start = position;
    return Holding::kStraight;
}

bool write_to_standard_output(const char *bytes, std::size_t count)
{
    if (count == 0 || std::fwrite(bytes, 1, count, stdout) == count)
        return true;
    report_write_failure(std::strerror(errno != 0 ? errno : EIO));
    gate.failed = true;
    return false;
}

bool write_to_held_file(const char *bytes, std::size_t count)
{
    if (gate.held_fd < 0) {
        gate.held_fd = open_temporary_file();
        if (gate.held_fd < 0) {
            report_temporary_create_failure(std::strerror(errno));
            gate.failed = true;
            return false;
        }
    }
    while (count > 0) {
        ssize_t written = write(gate.held_fd, bytes, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            report_temporary_write_failure(std::strerror(written < 0 ? errno : ENOSPC));
            gate.failed = true;
            return false;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
        gate.held_length += static_cast<std::uint64_t>(written);
    }
    return true;
}

// The block is full: it goes where the script is held.  Once that has
// failed, the rest of the pass's script goes nowhere: the pass stops at the
// end of the stretch it is translating.
void let_block_go()
{
    if (gate.failed) {
        // nothing more goes anywhere
    } else if (gate.holding == Holding::kStraight) {
        gate.wrote_straight = true;
        write_to_standard_output(gate.block, gate.block_length);
    } else {
        write_to_held_file(gate.block, gate.block_length);
    }
    gate.block_length = 0;
}

// Hands the temporary file's bytes on to standard output: by the kernel
// where it can copy between the two, else a block at a time through the
// scratch block.
bool hand_on_held_file()
{
    off_t offset = 0;
    std::uint64_t left = gate.held_length;
    int fd = fileno(stdout);
    bool kernel_copies = true;
    // A pipe takes the script in fewer, larger moves when it holds more:
    // ask for the most an unprivileged process may (1 MiB by default).
    // Where the kernel refuses, the pipe stays as it was.
    fcntl(fd, F_SETPIPE_SZ, 1 << 20);
    while (left > 0) {
        std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(left, 1 << 30));
        ssize_t moved;
        if (kernel_copies) {
            moved = sendfile(fd, gate.held_fd, &offset, count);
            if (moved < 0 && (errno == EINVAL || errno == ENOSYS) && offset == 0) {
                kernel_copies = false;
                continue;
            }
        } else {
            moved = pread(gate.held_fd, gate.scratch, std::min(count, sizeof gate.scratch), offset);
            if (moved > 0 && !write_to_standard_output(gate.scratch, static_cast<std::size_t>(moved)))
                return false;
            if (moved > 0)
                offset += moved;
        }
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved <= 0) {
            // A failed sendfile may be either file's, and a temporary file
            // that comes up short is as much a failure: either way the
            // script could not be handed on, which is the output's to say.
            report_write_failure(std::strerror(moved < 0 ? errno : EIO));
            gate.failed = true;
            return false;
        }
        left -= static_cast<std::uint64_t>(moved);
    }
    return true;
}

void let_held_file_go()
{
    if (gate.held_fd >= 0)
        close(gate.held_fd);
    gate.held_fd = -1;
    gate.held_length = 0;
}

}  // namespace

char *output_space(std::size_t count)
{
    char *room = gate.scratch;
    gate.line_in_scratch = false;
    if (gate.writing) {
        if (count <= kOutputBlockSize - gate.block_length)
            room = gate.block + gate.block_length;
        else
            gate.line_in_scratch = true;
    }
#ifdef ROFFSCRIPT_SELF_CHECKS
    output_room_start = room;
    output_room_end = room + count;
#endif
    return room;
}

void output_advance(const char *end)
{
#ifdef ROFFSCRIPT_SELF_CHECKS
    assert(end >= output_room_start && end <= output_room_end);
#endif
    if (!gate.writing)
        return;
    if (!gate.line_in_scratch) {
        gate.block_length = static_cast<std::size_t>(end - gate.block);
        return;
    }
    // The line's room did not fit what the block has left; what the line
    // took may.  A line takes at most a block, so it fills the block once
    // at most.
    const char *from = gate.scratch;
    std::size_t count = static_cast<std::size_t>(end - from);
    std::size_t fits = std::min(count, kOutputBlockSize - gate.block_length);
    std::memcpy(gate.block + gate.block_length, from, fits);
    gate.block_length += fits;
    if (fits < count) {
        let_block_go();
        std::memcpy(gate.block, from + fits, count - fits);
        gate.block_length = count - fits;
    }
    gate.line_in_scratch = false;
}

void start_output(Pass pass)
{
    gate.writing = pass == Pass::kOutput;
    gate.line_in_scratch = false;
    if (pass == Pass::kChecking) {
        let_held_file_go();
        gate.block_length = 0;
        gate.failed = false;
        gate.wrote_straight = false;
        gate.holding = choose_holding();
    }
}

bool output_failed()
{
    return gate.failed;
}

bool finish_output()
{
    bool whole = !gate.failed && (gate.held_length == 0 || hand_on_held_file()) &&
                 write_to_standard_output(gate.block, gate.block_length);
    gate.block_length = 0;
    gate.writing = false;
    let_held_file_go();
    return whole;
}

void abandon_output()
{
    gate.block_length = 0;
    gate.writing = false;
    let_held_file_go();
    if (gate.wrote_straight && gate.output_start >= 0 && ftruncate(fileno(stdout), gate.output_start) != 0)
        report_write_failure(std::strerror(errno));
    gate.wrote_straight = false;
}
