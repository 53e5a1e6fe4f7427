// Input-and-output cases, read from the themed files in tests/cases.
//
// Each case pins standard output, standard error and the exit status, and is
// run twice: with the input as a named file and through a pipe, which takes
// the program's other road (the temporary copy).  Both must give the same.
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
// only separate cases.  Inside content lines, <TAB>,
// <CR>, <NUL> and <xHH> stand for those bytes, <c*N> for the byte c N times,
// and <NOEOL> at the end of a line drops its line feed.

#include "program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <regex>

namespace {

struct Case {
    std::string name;
    std::string input, out, err;
    int status = 0;
};

std::string decode(const std::string &line)
{
    static const std::regex token("<(TAB|CR|NUL|NOEOL|x([0-9a-fA-F]{2})|(.)\\*([0-9]+))>");
    std::string bytes;
    bool line_feed = true;
    auto last = line.cbegin();
    for (std::sregex_iterator it(line.begin(), line.end(), token), end; it != end; ++it) {
        const std::smatch &m = *it;
        bytes.append(last, m[0].first);
        last = m[0].second;
        const std::string what = m[1];
        if (what == "TAB")
            bytes += '\t';
        else if (what == "CR")
            bytes += '\r';
        else if (what == "NUL")
            bytes += '\0';
        else if (what == "NOEOL")
            line_feed = false;
        else if (m[2].matched)
            bytes += static_cast<char>(std::stoi(m[2], nullptr, 16));
        else
            bytes.append(std::stoul(m[4]), m[3].str()[0]);
    }
    bytes.append(last, line.cend());
    if (line_feed)
        bytes += '\n';
    return bytes;
}

std::vector<Case> load_file(const std::string &path, const std::string &theme)
{
    std::vector<Case> cases;
    std::ifstream file(path);
    std::string line, *section = nullptr;
    // Blank lines count as content unless a new case follows them: one
    // blank line keeps cases apart.
    int blank_lines = 0;
    while (std::getline(file, line)) {
        if (line.empty() && section != nullptr) {
            ++blank_lines;
            continue;
        }
        if (line.rfind("=== ", 0) != 0 && section != nullptr)
            for (; blank_lines > 0; --blank_lines)
                *section += '\n';
        blank_lines = 0;
        if (line.rfind("=== ", 0) == 0) {
            cases.push_back(Case{});
            std::string name = theme + "_" + line.substr(4);
            for (char &c : name)
                if (!std::isalnum(static_cast<unsigned char>(c)))
                    c = '_';
            cases.back().name = name;
            section = nullptr;
        } else if (!cases.empty() && line.rfind("--- ", 0) == 0) {
            const std::string what = line.substr(4);
            Case &c = cases.back();
            section = what == "input" ? &c.input : what == "stdout" ? &c.out : what == "stderr" ? &c.err : nullptr;
            if (what.rfind("status ", 0) == 0)
                c.status = std::stoi(what.substr(7));
            else if (section == nullptr)
                throw std::runtime_error(path + ": unknown section " + what);
        } else if (section != nullptr) {
            *section += decode(line);
        }
    }
    return cases;
}

std::vector<Case> load_cases()
{
    std::vector<std::string> files;
    if (DIR *dir = opendir(CASES_DIR)) {
        while (struct dirent *entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() > 5 && name.compare(name.size() - 5, 5, ".test") == 0)
                files.push_back(name);
        }
        closedir(dir);
    }
    std::sort(files.begin(), files.end());
    std::vector<Case> cases;
    for (const std::string &file : files) {
        std::vector<Case> more = load_file(std::string(CASES_DIR) + "/" + file, file.substr(0, file.size() - 5));
        cases.insert(cases.end(), more.begin(), more.end());
    }
    return cases;
}

// Failures name the case, not its bytes.
void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}

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

INSTANTIATE_TEST_SUITE_P(Cases, CaseTest, ::testing::ValuesIn(load_cases()),
                         [](const ::testing::TestParamInfo<Case> &info) { return info.param.name; });

}  // namespace
