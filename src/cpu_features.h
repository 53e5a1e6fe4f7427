// What the processor can do, as the C library found it when it loaded the
// program: the program reads that rather than asking the processor again,
// which on a virtual machine costs a trap to the hypervisor for every
// question.  Only the x86-64 builds with vector code ask.

#ifndef ROFFSCRIPT_CPU_FEATURES_H
#define ROFFSCRIPT_CPU_FEATURES_H

#if defined(__x86_64__) && defined(__GNUC__) && !defined(ROFFSCRIPT_PORTABLE)
#define ROFFSCRIPT_X86_FEATURES 1

// The C library's header is written for C, whose _Bool is C++'s bool.
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool

// Sixteen-byte shuffles (SSSE3), for the quoting of text runs.
inline bool processor_has_ssse3()
{
    return CPU_FEATURE_ACTIVE(SSSE3);
}

// A population count instruction, for counting line feeds.
inline bool processor_has_popcnt()
{
    return CPU_FEATURE_ACTIVE(POPCNT);
}
#endif

#endif
