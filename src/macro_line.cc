// Translation of macro lines: lines that start with a period or an
// apostrophe.  Not translated yet; they produce no command.

#include "roffscript.h"

void translate_macro_line(const char *line)
{
    (void)line;
}
