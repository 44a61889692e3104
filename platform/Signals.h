#pragma once

// A person's or a service manager's request that the program stop: Ctrl-C
// (SIGINT on Linux; CTRL_C_EVENT and CTRL_BREAK_EVENT of a Windows console)
// and SIGTERM (Linux). Once the handlers are installed, the first request is
// kept for the program to look at and end with what it has; the second ends
// the program at once (Linux: the signal's default; Windows: the console's).
//
// A WaitReadableOrWoken under way when the request comes returns at once,
// woken: on Linux the signal breaks it (EINTR, no SA_RESTART); on Windows,
// where the console's handler runs on a thread of its own and breaks no
// wait, the handler signals a wake-up that every such wait watches too (the
// first wait that sees it takes it, as a signal breaks one wait on Linux).

// Installs the handlers; once for the process, later calls do nothing.
void WatchStopRequests();

// 0 while nobody asked; then the status a program ends with as shells count
// it: 130 for Ctrl-C (and Ctrl-Break), 143 for SIGTERM.
int StopRequestStatus();
