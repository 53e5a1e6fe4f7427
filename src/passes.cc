// The driver: the two passes over the input, and the one loop that moves
// the page through the stages.
//
// The input is translated twice: a checking pass that writes nothing and
// only reports, then, if nothing was wrong, an output pass that writes the
// script.  A page found wrong therefore gets no script at all.  A change to
// the input that shows only during or at the end of the output pass ends the
// run with status 1, and what the gate still holds then is never written: a
// script that fits the gate's block is written whole or not at all, and of
// a longer one a part may be out, which the status says to discard.  A
// failed write ends the run the same way.
//
// Each pass is pushed from here: the driver asks the source for the next
// stretch of the page and hands it to the line finder, which hands each
// line to its translator, which writes through the output gate.  No stage
// calls back up, and each learns the pass from its start call.

#include "passes.h"

#include "line_finder.h"
#include "messages.h"
#include "output.h"
#include "run_state.h"
#include "source.h"

#include <cerrno>
#include <cstring>

int output_pass = 0;
std::uint64_t line_number = 0;
int error_status = 0;

namespace {

// The block that each pass reads the page into, a stretch at a time.
alignas(64) char page_block[kPageBlockSize];

// Runs one pass over the page: asks the source for each stretch of it and
// hands the stretch to the line finder, which hands its lines on to the
// translators.  Returns false when the run must end: the reason has been
// reported.  Once the output has failed nothing more can reach it, and the
// pass stops there and returns true: the failure is reported at the end of
// the run.
bool run_pass(int pass)
{
    output_pass = pass;
    line_number = 0;
    error_status = 0;
    start_output(pass);
    start_lines(page_block, pass);
    for (;;) {
        PageRoom room = room_for_page();
        std::size_t got;
        bool read = pass == 0 ? read_for_checking(room.bytes, room.size, &got)
                              : read_for_output(room.bytes, room.size, &got);
        if (!read)
            return false;
        if (got == 0)
            return end_of_page();
        if (!take_page_bytes(got))
            return false;
        if (output_failure() != 0)
            return true;
    }
}

// Runs the checking pass and, when it found nothing wrong, the output pass
// over the same bytes.  Returns the exit status.
int translate_twice()
{
    if (!run_pass(0)) {
        confirm_source_whole();
        return 1;
    }
    if (error_status != 0)
        return error_status;
    if (!rewind_source())
        return 1;
    if (!run_pass(1))
        return 1;
    return error_status;
}

// Where the output pass ends, whether it ran to the end of the page or
// stopped at a failure, or never ran.  What the gate still gathers is
// written out only for a run that has not failed: after a failure it was
// translated from bytes that failed their checks, or could not all be read.
// Returns the exit status of the run, `status` so far.
int end_run(int status)
{
    if (status != 0)
        return status;
    int write_errno = finish_output();
    if (write_errno != 0) {
        report_write_failure(std::strerror(write_errno));
        return 1;
    }
    return 0;
}

}  // namespace

int translate_document(std::FILE *input, const char *name)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    start_messages();
    if (!open_source(input, name))
        return 1;
    int status = translate_twice();
    close_source();
    return end_run(status);
}
