// The program's entry: the command line and the input stream.
//
// roffscript reads the file named by its only argument, or standard input,
// and writes the script to standard output.  It takes no options.

#include "messages.h"
#include "passes.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 1 && argc != 2) {
        report_usage(argc > 0 ? argv[0] : "roffscript");
        return 1;
    }
    // With standard output closed, the next file opened would take its
    // descriptor and the script would be written into the input or into the
    // temporary copy of it.
    if (fcntl(STDOUT_FILENO, F_GETFD) == -1) {
        report_write_failure(std::strerror(errno));
        return 1;
    }
    if (argc == 1)
        return translate_document(stdin, "-");
    std::FILE *input = std::fopen(argv[1], "r");
    if (input == nullptr) {
        report_read_failure(argv[1], std::strerror(errno));
        return 1;
    }
    return translate_document(input, argv[1]);
}
