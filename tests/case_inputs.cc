// Writes the input of every case to a file of its own in a directory, as
// the fuzzer's seed corpus: case_inputs CASE_DIRECTORY OUTPUT_DIRECTORY.

#include "case_file.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "Usage: %s caseDirectory outputDirectory\n", argv[0]);
        return 1;
    }
    int written = 0;
    for (const Case &c : load_cases(argv[1])) {
        std::string path = std::string(argv[2]) + "/" + c.name;
        std::FILE *file = std::fopen(path.c_str(), "wb");
        if (file == nullptr || std::fwrite(c.input.data(), 1, c.input.size(), file) != c.input.size() ||
            std::fclose(file) != 0) {
            std::perror(path.c_str());
            return 1;
        }
        ++written;
    }
    std::printf("%d seed inputs\n", written);
    return 0;
}
