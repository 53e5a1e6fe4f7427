// The themed case files in tests/cases: inputs with the standard output,
// standard error and exit status they must give.
//
// A case file opens with comment lines ('#') and then holds cases:
//
//   === name of the case
//   --- input
//   lines of input
//   --- stdout              (empty when left out)
//   --- stderr              (empty when left out)
//   --- status 1            (0 when left out)
//
// Every content line ends with a line feed; blank lines before a "===" line
// only separate cases.  Inside content lines, <TAB>, <CR>, <NUL> and <xHH>
// stand for those bytes, <c*N> for the byte c N times, and <NOEOL> at the
// end of a line drops its line feed.

#ifndef ROFFSCRIPT_TESTS_CASE_FILE_H
#define ROFFSCRIPT_TESTS_CASE_FILE_H

#include <string>
#include <vector>

struct Case {
    std::string name;
    std::string input, out, err;
    int status = 0;
};

// Every case of every file in `directory`, files in name order.
std::vector<Case> load_cases(const std::string &directory);

#endif
