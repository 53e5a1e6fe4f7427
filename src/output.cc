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

// The script gathered for standard output, the block where the checking
// pass's commands go, whether the output pass runs (as start_output was
// told), and the errno of the first failed write.
struct Gate {
    char output_block[kOutputBlockSize];
    std::size_t output_block_length = 0;
    char discarded_block[kOutputBlockSize];
    bool writing = false;
    int saved_output_errno = 0;
};
Gate gate;

#ifdef ROFFSCRIPT_SELF_CHECKS
const char *output_room_start = gate.output_block;
const char *output_room_end = gate.output_block;
#endif

void write_to_standard_output(const char *bytes, std::size_t count)
{
    if (gate.saved_output_errno == 0 && std::fwrite(bytes, 1, count, stdout) != count)
        gate.saved_output_errno = errno != 0 ? errno : EIO;
}

void flush_output_block()
{
    write_to_standard_output(gate.output_block, gate.output_block_length);
    gate.output_block_length = 0;
}

}  // namespace

char *output_space(std::size_t count)
{
    char *room = gate.discarded_block;
    if (gate.writing) {
        if (count > kOutputBlockSize - gate.output_block_length)
            flush_output_block();
        room = gate.output_block + gate.output_block_length;
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
    if (gate.writing)
        gate.output_block_length = static_cast<std::size_t>(end - gate.output_block);
}

void start_output(int pass)
{
    gate.writing = pass != 0;
    if (!gate.writing) {
        gate.output_block_length = 0;
        gate.saved_output_errno = 0;
    }
}

int output_failure()
{
    return gate.saved_output_errno;
}

// Standard output has no buffer (the run turns it off): every write was
// checked as it was made, and nothing is left for a flush to find.
int finish_output()
{
    flush_output_block();
    return gate.saved_output_errno;
}
