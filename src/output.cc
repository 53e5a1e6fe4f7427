// The output gate: the block that gathers the script and its way out to
// standard output.  The translators put their commands straight into the
// block, in room asked for once per line; only a full block, and the end of
// the run, cost a call to the C library.

#include "output.h"

#include <cerrno>
#include <cstdio>

namespace {

int saved_output_errno = 0;

void write_to_standard_output(const char *bytes, std::size_t count)
{
    if (saved_output_errno == 0 && std::fwrite(bytes, 1, count, stdout) != count)
        saved_output_errno = errno != 0 ? errno : EIO;
}

}  // namespace

char output_block[kOutputBlockSize];
std::size_t output_block_length = 0;
#ifdef ROFFSCRIPT_SELF_CHECKS
const char *output_room_end = output_block;
#endif

void flush_output_block()
{
    write_to_standard_output(output_block, output_block_length);
    output_block_length = 0;
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
