// Replays saved inputs through the fuzz target's own checks (fuzz/checks.cc),
// so that an input that once broke the program, and every seed, is checked
// by the plain suite and not only while fuzzing: every file named, every
// file in a directory named, and with --cases the input of every case in a
// directory of case files.  Then the same inputs joined, each ended by a line
// feed, into documents far longer than the program's read blocks: those
// that convert alone, and all of them.  Prints each input that breaks a
// promise; exits 1 if any did.  With --scripts, the script of every input
// that converts goes into that directory, and its name and file into its
// `list`, for a real Tcl parser to judge (tests/scripts.tcl): the checks
// here are this program's own idea of a word.
// Usage: replay [--cases CASE_DIRECTORY] [--scripts DIRECTORY] PATH...

#include "case_file.h"
#include "checks.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

namespace {

using Input = std::pair<std::string, std::string>;   // name, bytes

void add_file(const std::string &path, std::vector<Input> *inputs)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    inputs->emplace_back(path, bytes.str());
}

void add_path(const std::string &path, std::vector<Input> *inputs)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        std::perror(path.c_str());
        std::exit(2);
    }
    if (!S_ISDIR(info.st_mode)) {
        add_file(path, inputs);
        return;
    }
    std::vector<std::string> names;
    if (DIR *dir = opendir(path.c_str())) {
        while (struct dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.')
                names.push_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (const std::string &name : names)
        add_file(path + "/" + name, inputs);
}

// Where the scripts go, and the list of them; empty for none.
std::string scripts_directory;
std::ofstream script_list;

bool check(const std::string &name, const std::string &bytes, int *status = nullptr)
{
    int own_status = 1;
    std::string script;
    std::string broken = check_document(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size(),
                                        &own_status, &script);
    if (status != nullptr)
        *status = own_status;
    if (!scripts_directory.empty() && own_status == 0) {
        static int count = 0;
        std::string path = scripts_directory + "/" + std::to_string(++count) + ".script";
        std::ofstream(path, std::ios::binary) << script;
        script_list << name << '\n' << path << '\n';
    }
    if (broken.empty())
        return true;
    std::printf("FAIL %s: %s\n", name.c_str(), broken.c_str());
    return false;
}

}  // namespace

int main(int argc, char **argv)
{
    std::vector<Input> inputs;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--cases" && i + 1 < argc) {
            for (const Case &c : load_cases(argv[++i]))
                inputs.emplace_back("case " + c.name, c.input);
        } else if (arg == "--scripts" && i + 1 < argc) {
            scripts_directory = argv[++i];
            script_list.open(scripts_directory + "/list");
            if (!script_list) {
                std::perror(scripts_directory.c_str());
                return 2;
            }
        } else {
            add_path(arg, &inputs);
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "Usage: %s [--cases caseDirectory] [--scripts directory] path...\n", argv[0]);
        return 2;
    }
    int failures = 0;
    std::string converting, all;
    for (const Input &input : inputs) {
        int status = 1;
        if (!check(input.first, input.second, &status))
            ++failures;
        std::string line_ended = input.second;
        if (line_ended.empty() || line_ended.back() != '\n')
            line_ended += '\n';
        all += line_ended;
        if (status == 0)
            converting += line_ended;
    }
    failures += !check("the inputs that convert, joined", converting);
    failures += !check("every input, joined", all);
    std::printf("replay: %zu inputs and two joined documents, %d broke a promise\n", inputs.size(), failures);
    return failures == 0 ? 0 : 1;
}
