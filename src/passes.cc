// The two passes over the input.
//
// The input is translated twice: a checking pass that writes nothing and
// only reports, then, if nothing was wrong, an output pass that writes the
// script.  A run therefore writes either the whole script or none of it.

#include "passes.h"

#include "run_state.h"
#include "translators.h"
#include "line_finder.h"
#include "messages.h"
#include "output.h"
#include "source.h"

#include <cerrno>
#include <cstring>

int output_pass = 0;
std::uint64_t line_number = 0;
int error_status = 0;

namespace {

void start_pass(int pass)
{
    output_pass = pass;
    line_number = 0;
    error_status = 0;
}

// Runs the checking pass and, when it found nothing wrong, the output pass
// over the same bytes.  Returns the exit status.
int run_passes()
{
    start_pass(0);
    if (!take_all_lines(LineSelection::kThoseThatMayFail)) {
        confirm_source_whole();
        return 1;
    }
    if (error_status != 0)
        return error_status;
    if (!rewind_source())
        return 1;
    start_pass(1);
    if (!take_all_lines(LineSelection::kEvery))
        return 1;
    return error_status;
}

}  // namespace

int translate_document(std::FILE *input, const char *name)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (!open_source(input, name))
        return 1;
    int status = run_passes();
    close_source();
    int write_errno = finish_output();
    if (status != 0)
        return status;
    if (write_errno != 0) {
        report_write_failure(std::strerror(write_errno));
        return 1;
    }
    return 0;
}
