#pragma once

// velquint: the command-line front end. Finds devices, gives them new
// settings and IDs one at a time or from a plan file, and runs single
// transactions for diagnostics, over the same core as the window.

// Runs one command line (argv[0] is the program) and returns its exit status.
int RunVelquint(int argc, char** argv);
