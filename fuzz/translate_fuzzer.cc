// libFuzzer target: translates one whole document, as a file and as a pipe,
// and checks what the program promises of any input (checks.cc).

#include "checks.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string broken = check_document(data, size);
    if (!broken.empty()) {
        std::fprintf(stderr, "broken: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
