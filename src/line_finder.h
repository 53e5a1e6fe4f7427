// How blocks of input become lines, each counted and handed to its
// translator.

#ifndef ROFFSCRIPT_LINE_FINDER_H
#define ROFFSCRIPT_LINE_FINDER_H

// Makes the checking pass translate every line rather than only those that
// may fail, so that tests and the fuzzer can hold the two to the same
// messages and status.
extern bool translate_every_line;

// Which lines are translated: every one, or only those that could be
// reported bad (the others are only counted).
enum class LineSelection { kEvery, kThoseThatMayFail };

// Reads the current pass's input to its end and takes every line of it.
// Returns false when the run must end: the reason has been reported.  When
// the output fails, it stops reading and returns true: the gate's failure
// is reported at the end of the run.
bool take_all_lines(LineSelection selection);

#endif
