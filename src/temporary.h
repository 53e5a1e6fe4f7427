// An unnamed temporary file, for the rooms that must keep more than a block
// of their own: the copy of a page that cannot be read twice, and a script
// too long for the output gate's block.

#ifndef ROFFSCRIPT_TEMPORARY_H
#define ROFFSCRIPT_TEMPORARY_H

// Opens a file for reading and writing in the folder that TMPDIR names, or
// /tmp, and returns its descriptor; -1, with errno set, when none can be
// made.  The file has no name, so nothing is left behind however the run
// ends: where the file system cannot make a file without a name, a named
// one is removed at once.
int open_temporary_file();

#endif
