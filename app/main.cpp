#include <QApplication>

#include "app/Unit1.h"

int main(int argc, char** argv) {
    (void)argc;
    // Arguments have no effect: Qt sees only the program name.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    TForm1 form;
    form.show();
    application.exec();
    return 0;
}
