#include <QApplication>

#include "app/MainIcon.h"
#include "app/StandardErrorBox.h"
#include "app/Unit1.h"

namespace {

// The name Qt gets when the program was started without one (an empty
// argument vector is legal for execve).
char kFallbackProgramName[] = "velquint-tool";

}  // namespace

int main(int argc, char** argv) {
    // Arguments have no effect, Qt's own options included: Qt sees only the
    // program name.
    char* programName = (argc > 0 && argv[0] != nullptr) ? argv[0] : kFallbackProgramName;
    int qtArgc = 1;
    char* qtArgv[] = {programName, nullptr};
    QApplication application(qtArgc, qtArgv);

    RunGuarded([&application] {
        application.setWindowIcon(MainIcon());
        TForm1 form;
        form.show();
        application.exec();
    });
    return 0;
}
