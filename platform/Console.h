#pragma once

#include <cstddef>

// The standard streams as a command-line program finds them.

// Once, before anything is written. Windows: the console shows UTF-8 (its
// code page for output is set to it), stdin, stdout and stderr are binary
// (lines end in LF as on Linux, so that CSV and JSON are the same bytes on
// both, as git's and Go's programs write them; and a Ctrl-Z in a plan is a
// byte like any other), and stderr's console is asked for virtual-terminal
// sequences. Linux: nothing to do.
void PrepareStandardStreams();

struct StderrTerminal {
    // A status line can be redrawn in place with VT sequences: Linux, a
    // terminal whose TERM is set and not "dumb"; Windows, a console that took
    // virtual-terminal processing (Windows 10 and later).
    bool redraws = false;
    size_t columns = 80;
    size_t lines = 24;
};

// stderr as it is now; 80 x 24 where its size is unknown.
StderrTerminal InspectStderr();
