#include "platform/Console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

constexpr char kDumbTerminal[] = "dumb";

// stderr's console handle, or null when stderr is a file or a pipe.
HANDLE StderrConsole() {
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode)
               ? handle
               : nullptr;
}

}  // namespace

void PrepareStandardStreams() {
    // A console of another code page would show the UTF-8 of interface
    // names ("Ethernet 2", "Connexion au réseau local") as other letters.
    SetConsoleOutputCP(CP_UTF8);
    for (FILE* stream : {stdin, stdout, stderr}) {
        _setmode(_fileno(stream), _O_BINARY);
    }
    const HANDLE console = StderrConsole();
    DWORD mode = 0;
    if (console != nullptr && GetConsoleMode(console, &mode)) {
        // Refused by consoles before Windows 10: then InspectStderr says so.
        SetConsoleMode(console,
                       mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

StderrTerminal InspectStderr() {
    StderrTerminal terminal;
    const HANDLE console = StderrConsole();
    if (console == nullptr) {
        return terminal;
    }
    // TERM is rarely set on Windows; where it is, "dumb" means what it says.
    const char* term = std::getenv("TERM");
    const bool dumb = term != nullptr && std::strcmp(term, kDumbTerminal) == 0;
    DWORD mode = 0;
    terminal.redraws =
        !dumb && GetConsoleMode(console, &mode) && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(console, &info) && info.srWindow.Right > info.srWindow.Left) {
        // The window, not the buffer: the buffer is often thousands of lines.
        terminal.columns = static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
        terminal.lines = static_cast<size_t>(info.srWindow.Bottom - info.srWindow.Top + 1);
    }
    return terminal;
}
