// Every message the program writes on standard error.  Each is one line.
// Those about a bad construct name its line and mark the run as failed
// (error_status); a line too long names no line, and the line finder ends
// the run at it.  The frame of every message is written here; a reason is a
// short clause from the room that knows it: the system's text for an errno,
// a decoder's word for damaged data, the source's for a file that changed.

#ifndef ROFFSCRIPT_MESSAGES_H
#define ROFFSCRIPT_MESSAGES_H

void report_usage(const char *program);
// `reason` is one short clause, such as the system's text for an errno.
void report_read_failure(const char *name, const char *reason);
void report_write_failure(const char *reason);
void report_temporary_create_failure(const char *reason);
void report_temporary_write_failure(const char *reason);
void report_too_long_line();

// The bad constructs that a line may hold; reporting one sets error_status.
enum class LineError { kBadCharacterEscape, kUnclosedQuote };
void report_line_error(LineError error);

// Lines decoded from compressed data that later proves damaged are garbage,
// and what was wrong with them is no news.  While held, the messages about
// lines (and a line too long) are kept back, up to a fixed block; past it
// they go out as they come.  They are then either released, in order, once
// the data is known whole, or dropped when it is not.
void hold_line_messages();
// Starts a run with nothing held.
void start_messages();
void release_line_messages();
void drop_line_messages();

#endif
