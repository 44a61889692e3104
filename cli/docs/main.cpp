// velquint_docs: writes velquint's manual page and bash completion from its
// command line, when the project is built. Not installed.
//   velquint_docs man TEMPLATE     the manual page, from its template
//   velquint_docs bash-completion  the completion script
#include <CLI/CLI.hpp>

#include <fstream>
#include <iostream>

#include "cli/Velquint.h"
#include "cli/docs/BashCompletion.h"
#include "cli/docs/ManPage.h"

namespace {

constexpr int kDocsFailed = 1;
constexpr int kDocsUsage = 2;

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    CLI::App app;
    const VelquintCommandLine line = AddVelquintCommandLine(app);

    if (what == "man" && argc == 3) {
        std::ifstream pageTemplate(argv[2]);
        if (!pageTemplate) {
            std::cerr << "velquint_docs: cannot read " << argv[2] << '\n';
            return kDocsFailed;
        }
        std::string error;
        if (!WriteManPage(app, pageTemplate, std::cout, &error)) {
            std::cerr << "velquint_docs: " << argv[2] << ": " << error << '\n';
            return kDocsFailed;
        }
        return std::cout.flush() ? 0 : kDocsFailed;
    }
    if (what == "bash-completion" && argc == 2) {
        WriteBashCompletion(app, std::cout);
        return std::cout.flush() ? 0 : kDocsFailed;
    }
    std::cerr << "usage: velquint_docs man TEMPLATE | bash-completion\n";
    return kDocsUsage;
}
