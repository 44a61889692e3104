// The real tool as its own process on a private X server: it starts the same
// with or without arguments, and closing its window the way a window manager
// does ends it with exit code 0, having written nothing anywhere.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/MainIcon.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/XSession.h"

Q_DECLARE_METATYPE(std::vector<std::string>)

namespace {

// Generous bounds that only catch a hang.
constexpr int kWindowTimeoutMs = 30000;
constexpr int kExitTimeoutMs = 30000;

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT

private:
    XvfbServer server_;
    std::string tool_;

    static QStringList EntriesUnder(const QString& root) {
        QStringList entries;
        QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            entries << it.next();
        }
        return entries;
    }

private slots:
    void initTestCase() {
        tool_ = qEnvironmentVariable("VELQUINT_TOOL").toStdString();
        QVERIFY2(!tool_.empty(), "VELQUINT_TOOL must name the tool binary");
        QVERIFY2(QFile::exists(QString::fromStdString(tool_)), tool_.c_str());
        std::string error;
        QVERIFY2(server_.Start(error), error.c_str());
    }

    void closingTheWindowEndsWithExitCodeZero_data() {
        QTest::addColumn<std::vector<std::string>>("argv");
        QTest::newRow("no arguments") << std::vector<std::string>{"velquint-tool"};
        // Each of Qt's own options here would change the window or keep it
        // off this display if Qt saw it.
        QTest::newRow("Qt options and others") << std::vector<std::string>{
            "velquint-tool", "-platform", "offscreen", "-qwindowgeometry",
            "100x100+1+1",   "-reverse",  "-style",    "windows",
            "-qwindowtitle", "other",     "--help",    "192.168.0.1"};
        QTest::newRow("empty argument vector") << std::vector<std::string>{};
    }
    void closingTheWindowEndsWithExitCodeZero() {
        QFETCH(std::vector<std::string>, argv);

        // Everything the tool could write to lives under here, and must stay empty.
        QTemporaryDir scratch;
        QVERIFY(scratch.isValid());
        const QString root = scratch.path();
        for (const char* sub : {"home", "runtime", "tmp", "out"}) {
            QVERIFY(QDir(root).mkdir(QLatin1String(sub)));
        }
        chmod(QFile::encodeName(root + "/runtime").constData(), 0700);
        const std::string base = root.toStdString();

        ChildOptions options;
        options.program = tool_;
        options.argv = argv;
        options.set = {"DISPLAY=" + server_.DisplayName(),
                       "QT_QPA_PLATFORM=xcb",
                       "HOME=" + base + "/home",
                       "XDG_CONFIG_HOME=" + base + "/home/.config",
                       "XDG_CACHE_HOME=" + base + "/home/.cache",
                       "XDG_DATA_HOME=" + base + "/home/.local/share",
                       "XDG_STATE_HOME=" + base + "/home/.local/state",
                       "XDG_RUNTIME_DIR=" + base + "/runtime",
                       "TMPDIR=" + base + "/tmp"};
        options.unset = {"SESSION_MANAGER", "QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE"};
        options.stdoutPath = base + "/out/stdout";
        options.stderrPath = base + "/out/stderr";

        XClient x;
        QVERIFY(x.Open(server_.DisplayName()));
        // Ends the tool whatever happens below.
        ChildProcess tool(options);
        QVERIFY2(tool.started(), tool.failure().c_str());
        const auto showStderr = [&] {
            QFile log(root + "/out/stderr");
            return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
        };

        const unsigned long window = x.WaitForMappedWindow(kToolCaption, kWindowTimeoutMs);
        QVERIFY2(window != 0, showStderr().constData());
        const WindowGeometry geometry = x.Geometry(window);
        QCOMPARE(geometry.x, 414);
        QCOMPARE(geometry.y, 119);
        QCOMPARE(geometry.width, 819);
        QCOMPARE(geometry.height, 635);
        std::vector<int> icons = x.IconSizes(window);
        std::sort(icons.begin(), icons.end());
        QCOMPARE(icons, std::vector<int>(kMainIconSizes.begin(), kMainIconSizes.end()));

        QVERIFY(x.RequestClose(window));
        const ChildExit result = tool.Wait(kExitTimeoutMs);
        QVERIFY2(result.exited, "the tool kept running after its window was closed");
        QVERIFY2(WIFEXITED(result.status), showStderr().constData());
        QCOMPARE(WEXITSTATUS(result.status), 0);
        // No box or second window came up on the way out.
        QCOMPARE(x.ViewableTopLevels(), 0);

        QCOMPARE(QFileInfo(root + "/out/stdout").size(), 0);
        QCOMPARE(EntriesUnder(root + "/home"), QStringList());
        QCOMPARE(EntriesUnder(root + "/runtime"), QStringList());
        QCOMPARE(EntriesUnder(root + "/tmp"), QStringList());
    }
};

QTEST_GUILESS_MAIN(StartupTest)
#include "startup_test.moc"
