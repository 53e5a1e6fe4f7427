// libFuzzer target: translates one whole document, as a file and as a pipe,
// and checks what the program promises of any input (checks.cc).

#include "checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    check_document(data, size);
    return 0;
}
