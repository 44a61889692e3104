// velquint's own command line on any words: its parser, with every option's
// check, takes them or refuses them with a parse error, nothing else (any
// other exception ends the run as a finding).
//
// The command line is built once for the whole run, as the program builds it
// once for its one parse: building it costs some fifty parses. After each
// parse CLI11 forgets what it parsed (App::clear), but not the values it
// stored into the commands' variables. The one check that reads
// those while parsing, a command's callback ("name the device"), runs last:
// a value left from an earlier input can only let that check pass, never
// change what ran before it, so whatever fails here fails on its own input.
//
// Input: the words of a command line, one a line (the program's name comes
// first without being given).
#include <CLI/CLI.hpp>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Velquint.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CLI::App app;
    static const VelquintCommandLine line = AddVelquintCommandLine(app);
    // The words and their pointers keep their room from input to input.
    static std::vector<std::string> words = {"velquint"};
    static std::vector<const char*> argv;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    size_t count = 1;
    for (size_t at = 0; at < text.size(); ++count) {
        const size_t end = std::min(text.find('\n', at), text.size());
        if (count == words.size()) {
            words.emplace_back();
        }
        words[count].assign(text.substr(at, end - at));
        at = end + 1;
    }
    argv.clear();
    for (size_t i = 0; i < count; ++i) {
        argv.push_back(words[i].c_str());
    }
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError&) {
        // Refused, as a person would be told.
    }
    // What the parse kept goes with this input, so that the fuzzer's count
    // of allocations and frees (its hint of a leak) stays the input's own.
    app.clear();
    return 0;
}
