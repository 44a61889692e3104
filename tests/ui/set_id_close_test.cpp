// Closing the window while a Set ID waits for its device ends the program at
// once and cleanly: the wait is abandoned, the connection closed, and the
// event loop (or the real tool) ends with 0. Also when the application is told
// to quit without its window closing, the wait goes on without spinning.

#include <sys/wait.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <string>

#include "app/MessageBox.h"
#include "app/Unit1.h"
#include "support/SetIdSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/XSession.h"

using setidtest::FillSetId;
using setidtest::Listener;
using setidtest::ProcessCpuMs;

namespace {

constexpr size_t kRequestLength = 14;
// Generous bounds that only catch a hang.
constexpr int kHangLimitMs = 30000;
constexpr int kRequestLimitMs = 10000;
// Well under the 3 s the Set ID would otherwise wait for its reply.
constexpr qint64 kPromptMs = 1500;
// A wait that spins would burn about all of its 3 s.
constexpr double kMostCpuMsFor3sWait = 1000.0;

// Controls of the window at the design size, as offsets from its top-left
// corner: the centres of Edit1 and Edit4 in the "New" group and of Button4
// in the "ZEK Only" panel.
constexpr int kEdit1X = 10 + 16 + 60;
constexpr int kEdit1Y = 454 + 40 + 12;
constexpr int kEdit4X = 10 + 408 + 28;
constexpr int kEdit4Y = 454 + 40 + 12;
constexpr int kButton4X = 615 + 29 + 62;
constexpr int kButton4Y = 423 + 70 + 17;

}  // namespace

class SetIdCloseTest : public QObject {
    Q_OBJECT

private slots:
    void closingTheWindowAbandonsTheWait() {
        MessageBoxRecorder boxes;
        Listener device;  // takes the request and never answers
        QVERIFY(device.ok());
        TForm1 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        FillSetId(form, QStringLiteral("127.0.0.1"), device.portText(), QStringLiteral("5"));

        // The click and the close both run inside the application's loop; the
        // close comes once the request is out and its reply awaited.
        QTimer::singleShot(0, form.Button4, [&form] { form.Button4->click(); });
        QElapsedTimer sinceClose;
        QTimer closer;
        closer.setInterval(10);
        connect(&closer, &QTimer::timeout, [&] {
            if (form.Button4->isEnabled() || !device.Accept(0)) {
                return;
            }
            closer.stop();
            sinceClose.start();
            form.close();
        });
        closer.start();
        QTimer::singleShot(kHangLimitMs, [] { QCoreApplication::exit(1); });

        const int code = QApplication::exec();

        QCOMPARE(code, 0);
        QVERIFY2(sinceClose.isValid(), "the window was never closed during a wait");
        QVERIFY2(sinceClose.elapsed() < kPromptMs, "the loop went on waiting for the device");
        QCOMPARE(form.Channel.SocketOpen, 0);
        QCOMPARE(form.Channel.Socket, -1);
        QCOMPARE(int(device.Read(kRequestLength, 0).size()), int(kRequestLength));
        QVERIFY2(device.ClosedWithin(kRequestLimitMs), "the connection was left open");
        QVERIFY(boxes.boxes().empty());
        QVERIFY(form.Button4->isEnabled());
    }

    void quitWithoutClosingTheWindowWaitsWithoutSpinning() {
        // After QCoreApplication::exit every new event loop returns at once;
        // the rest of the wait must not become a busy loop.
        Listener device;
        QVERIFY(device.ok());
        TForm1 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        FillSetId(form, QStringLiteral("127.0.0.1"), device.portText(), QStringLiteral("5"));

        double cpuAtExit = 0.0;
        QTimer::singleShot(0, form.Button4, [&form] { form.Button4->click(); });
        QTimer quitter;
        quitter.setInterval(10);
        connect(&quitter, &QTimer::timeout, [&] {
            if (form.Button4->isEnabled() || !device.Accept(0)) {
                return;
            }
            quitter.stop();
            cpuAtExit = ProcessCpuMs();
            QCoreApplication::exit(0);
        });
        quitter.start();

        const int code = QApplication::exec();

        QCOMPARE(code, 0);
        QVERIFY(cpuAtExit > 0.0);
        QVERIFY2(ProcessCpuMs() - cpuAtExit < kMostCpuMsFor3sWait, "the wait spun after the exit");
        QCOMPARE(form.Label6->text(), QStringLiteral("Error !!!"));
        QCOMPARE(form.Channel.SocketOpen, 0);
        QVERIFY(form.Button4->isEnabled());
    }

    void realToolEndsWithZeroWhenClosedDuringTheWait() {
        const std::string tool = qEnvironmentVariable("VELQUINT_TOOL").toStdString();
        QVERIFY2(!tool.empty(), "VELQUINT_TOOL must name the tool binary");
        XvfbServer server;
        std::string error;
        QVERIFY2(server.Start(error), error.c_str());
        Listener device;
        QVERIFY(device.ok());

        QTemporaryDir scratch;
        QVERIFY(scratch.isValid());
        const std::string base = scratch.path().toStdString();
        ChildOptions options;
        options.program = tool;
        options.argv = {"velquint-tool"};
        options.set = {"DISPLAY=" + server.DisplayName(), "QT_QPA_PLATFORM=xcb",
                       "XDG_RUNTIME_DIR=" + base, "HOME=" + base};
        options.stdoutPath = "/dev/null";
        options.stderrPath = base + "/stderr";
        const auto log = [&] {
            QFile file(QString::fromStdString(options.stderrPath));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };

        XClient x;
        QVERIFY(x.Open(server.DisplayName()));
        // Ends the tool whatever happens below.
        ChildProcess toolProcess(options);
        QVERIFY2(toolProcess.started(), toolProcess.failure().c_str());
        const unsigned long window = x.WaitForMappedWindow(kToolCaption, kHangLimitMs);
        QVERIFY2(window != 0, log().constData());
        const WindowGeometry at = x.Geometry(window);

        QVERIFY(x.ClickAt(at.x + kEdit1X, at.y + kEdit1Y));
        QVERIFY(x.TypeText("127.0.0.1"));
        QVERIFY(x.ClickAt(at.x + kEdit4X, at.y + kEdit4Y));
        QVERIFY(x.TypeText(device.portText().toStdString()));
        QVERIFY(x.ClickAt(at.x + kButton4X, at.y + kButton4Y));
        QVERIFY2(device.Accept(kRequestLimitMs), "the tool did not connect");
        QCOMPARE(int(device.Read(kRequestLength, kRequestLimitMs).size()), int(kRequestLength));

        QElapsedTimer sinceClose;
        sinceClose.start();
        QVERIFY(x.RequestClose(window));
        const ChildExit result = toolProcess.Wait(kHangLimitMs);
        const qint64 exitMs = sinceClose.elapsed();

        QVERIFY2(result.exited, "the tool kept running after its window was closed");
        QVERIFY2(WIFEXITED(result.status), log().constData());
        QCOMPARE(WEXITSTATUS(result.status), 0);
        QVERIFY2(exitMs < kPromptMs, "the tool waited for the device before it ended");
        QVERIFY(device.ClosedWithin(kRequestLimitMs));
        QCOMPARE(x.ViewableTopLevels(), 0);
    }
};

QTEST_MAIN(SetIdCloseTest)
#include "set_id_close_test.moc"
