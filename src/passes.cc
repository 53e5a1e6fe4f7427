// The driver: the two passes over the input, and the one loop that moves
// the page through the stages.
//
// The input is translated twice: a checking pass that writes nothing and
// only reports, then, if nothing was wrong, an output pass that writes the
// script.  A page found wrong therefore gets no script at all.  A change to
// the input that shows only during or at the end of the output pass ends the
// run with status 1 too, and since the output gate holds the whole script
// until the run has passed every check, nothing of it is written then
// either.  A failed write ends the run the same way.
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


std::uint64_t line_number = 0;
int error_status = 0;

namespace {

// The block that each pass reads the page into, a stretch at a time.
alignas(64) char page_block[kPageBlockSize];

// Runs one pass over the page: asks the source for each stretch of it and
// hands the stretch to the line finder, which hands its lines on to the
// translators.  Returns false when the run must end: the reason has been
// reported, as it is when the output has failed.
bool run_pass(Pass pass)
{
    line_number = 0;
    error_status = 0;
    start_output(pass);
    start_lines(page_block, pass);
    for (;;) {
        PageRoom room = room_for_page();
        std::size_t got;
        bool read = pass == Pass::kChecking ? read_for_checking(room.bytes, room.size, &got)
                              : read_for_output(room.bytes, room.size, &got);
        if (!read)
            return false;
        if (got == 0)
            return end_of_page();
        if (!take_page_bytes(got))
            return false;
        if (output_failed())
            return false;
    }
}

// Runs the checking pass and, when it found nothing wrong, the output pass
// over the same bytes.  Returns the exit status.
int translate_twice()
{
    if (!run_pass(Pass::kChecking)) {
        confirm_source_whole();
        return 1;
    }
    if (error_status != 0)
        return error_status;
    if (!rewind_source())
        return 1;
    if (!run_pass(Pass::kOutput))
        return 1;
    return error_status;
}

// Where the output pass ends, whether it ran to the end of the page or
// stopped at a failure, or never ran.  The script the gate holds is handed
// on only for a run that has not failed: after a failure it was translated
// from bytes that failed their checks, or could not all be read.  Returns
// the exit status of the run, `status` so far.
int end_run(int status)
{
    if (status != 0) {
        abandon_output();
        return status;
    }
    return finish_output() ? 0 : 1;
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
