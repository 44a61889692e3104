// Loaded into the installed velquint-tool with LD_PRELOAD by the packages'
// check (check-packages.sh). Once the tool's event loop runs, it prints the
// title of each window shown and closes it, as a click on the window's close
// button would, so that the check sees the tool end the way it ends for a
// user: with exit status 0.
#include <QApplication>
#include <QCoreApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

void CloseShownWindows() {
    // Runs as QApplication is made, before the tool has shown its window;
    // the queued call runs once the event loop does.
    QTimer::singleShot(0, QCoreApplication::instance(), [] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->isVisible()) {
                std::printf("closing \"%s\"\n", qPrintable(window->windowTitle()));
                std::fflush(stdout);
                window->close();
            }
        }
    });
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(CloseShownWindows)
