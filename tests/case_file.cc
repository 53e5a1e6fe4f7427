// Reading the case files.

#include "case_file.h"

#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <fstream>
#include <regex>
#include <stdexcept>

namespace {

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

}  // namespace

std::vector<Case> load_cases(const std::string &directory)
{
    std::vector<std::string> files;
    if (DIR *dir = opendir(directory.c_str())) {
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
        std::vector<Case> more = load_file(directory + "/" + file, file.substr(0, file.size() - 5));
        cases.insert(cases.end(), more.begin(), more.end());
    }
    return cases;
}
