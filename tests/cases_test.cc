// Input-and-output cases, read from the themed files in tests/cases.
//
// Each case pins standard output, standard error and the exit status, and is
// run twice: with the input as a named file and through a pipe, which takes
// the program's other road (the temporary copy).  Both must give the same.

#include "case_file.h"
#include "program.h"

#include <gtest/gtest.h>

// Failures name the case, not its bytes.
void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}

namespace {

class CaseTest : public ::testing::TestWithParam<Case> {};

TEST_P(CaseTest, FileAndPipeGiveTheExpectedScript)
{
    const Case &c = GetParam();
    TempFile file(c.input);
    Invocation named;
    named.args = {file.path};
    Invocation piped;
    piped.input = c.input;
    for (const Invocation *run : {&named, &piped}) {
        SCOPED_TRACE(run == &named ? "input as a named file" : "input through a pipe");
        Outcome got = run_roffscript(*run);
        EXPECT_EQ(got.out, c.out);
        EXPECT_EQ(got.err, c.err);
        EXPECT_EQ(got.status, c.status);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CaseTest, ::testing::ValuesIn(load_cases(CASES_DIR)),
                         [](const ::testing::TestParamInfo<Case> &info) { return info.param.name; });

}  // namespace
