// The output gate: the block that gathers the script and its way out to
// standard output.  The translators put their commands straight into the
// block, in room asked for once per line; only a full block, and the end of
// the run, cost a call to the C library.  During the checking pass the room
// given is a block of its own whose bytes are never written out.

#include "output.h"

#include <cassert>
#include <cerrno>
#include <cstdio>

namespace {

char output_block[kOutputBlockSize];
std::size_t output_block_length = 0;

// Where the checking pass's commands go.
char discarded_block[kOutputBlockSize];

// Whether the output pass runs, as start_output was told.
bool writing = false;

#ifdef ROFFSCRIPT_SELF_CHECKS
const char *output_room_start = output_block;
const char *output_room_end = output_block;
#endif

int saved_output_errno = 0;

void write_to_standard_output(const char *bytes, std::size_t count)
{
    if (saved_output_errno == 0 && std::fwrite(bytes, 1, count, stdout) != count)
        saved_output_errno = errno != 0 ? errno : EIO;
}

void flush_output_block()
{
    write_to_standard_output(output_block, output_block_length);
    output_block_length = 0;
}

}  // namespace

char *output_space(std::size_t count)
{
    char *room = discarded_block;
    if (writing) {
        if (count > kOutputBlockSize - output_block_length)
            flush_output_block();
        room = output_block + output_block_length;
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
    if (writing)
        output_block_length = static_cast<std::size_t>(end - output_block);
}

void start_output(int pass)
{
    writing = pass != 0;
    if (!writing) {
        output_block_length = 0;
        saved_output_errno = 0;
    }
}

int output_failure()
{
    return saved_output_errno;
}

int finish_output()
{
    flush_output_block();
    if (saved_output_errno == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout)))
        saved_output_errno = errno != 0 ? errno : EIO;
    return saved_output_errno;
}
