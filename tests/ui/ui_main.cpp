// velquint_ui_tests: runs the window test file named by its first argument
// (see support/UiTestMain.h). Files named *_lab_test click something that
// sends discovery or setup traffic: they run only inside a lab namespace, and
// the guard checks that before anything else.
#include <cstdio>
#include <map>
#include <string>

#include "support/UiTestMain.h"
#include "tests/support/LabSupport.h"

namespace {

constexpr char kLabSuffix[] = "_lab_test";

std::map<std::string, uitest::Entry>& Entries() {
    static std::map<std::string, uitest::Entry> entries;
    return entries;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

bool uitest::Register(const char* file, Entry entry) {
    std::string name = file;
    name.erase(0, name.rfind('/') + 1);
    name.erase(name.rfind('.'));
    Entries()[name] = entry;
    return true;
}

int main(int argc, char** argv) {
    const auto entry = argc > 1 ? Entries().find(argv[1]) : Entries().end();
    if (entry == Entries().end()) {
        std::fprintf(stderr, "usage: %s <test file> [Qt Test options]; the test files:\n", argv[0]);
        for (const auto& [name, run] : Entries()) {
            std::fprintf(stderr, "  %s\n", name.c_str());
        }
        return 2;
    }
    if (EndsWith(entry->first, kLabSuffix)) {
        RequireLabNamespace();
    }
    // The file's test sees the program name and the options, as on its own.
    argv[1] = argv[0];
    return entry->second(argc - 1, argv + 1);
}
