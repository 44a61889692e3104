// A box opened inside Set ID's wait: while Set ID waits for its device, a
// setup runs to its end and shows its outcome in a modal box. When the
// device's reply, or its closing of the connection, arrives while that box is
// up, the box still waits for the operator without spinning, and the Set ID
// takes the outcome once the box is closed. The setup goes to an exchange that
// sends nothing; the device is velquint-sim on 127.0.0.1.

#include <poll.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include "app/AutoSizeLabel.h"
#include "app/Unit1.h"
#include "support/SetIdSupport.h"
#include "tests/support/LoopbackSim.h"

using setidtest::FillSetId;
using setidtest::ProcessCpuMs;

namespace {

constexpr int kNotConfirmed = -1;
// How long the box stays up with the device's answer waiting, and the CPU
// time that may cost: a busy loop would burn nearly all of it.
constexpr qint64 kBoxUpMs = 2000;
constexpr double kMostCpuMs = kBoxUpMs / 5.0;
constexpr int kPollMs = 10;

bool Readable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, 0) == 1;
}

}  // namespace

class SetIdNestedBoxTest : public QObject {
    Q_OBJECT

private slots:
    void boxUpWhileTheAnswerWaitsCostsNoCpu_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("status");
        QTest::newRow("the reply arrives") << "port=0,tcp-delay=200"
                                           << "OK";
        QTest::newRow("the device closes the connection") << "port=0,tcp-reply=close,tcp-delay=200"
                                                          << "Error !!!";
    }
    void boxUpWhileTheAnswerWaitsCostsNoCpu() {
        QFETCH(QString, device);
        QFETCH(QString, status);
        LoopbackSim sim({"--device", device.toStdString()});
        QVERIFY2(sim.ready(), sim.failure().c_str());
        TForm1 form;
        form.SetupExchange = [](const SetupRequest&) { return kNotConfirmed; };
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.ListView1->setCurrentItem(new QTreeWidgetItem(
            form.ListView1, {QStringLiteral("00.1A.2B.3C.4D.5E"), QStringLiteral("127.0.0.1")}));
        FillSetId(form, QStringLiteral("127.0.0.1"), QString::number(sim.Port()),
                  QStringLiteral("5"));
        form.Edit2->setText(QStringLiteral("255.0.0.0"));
        form.Edit3->setText(QStringLiteral("127.0.0.1"));

        // Inside Set ID's wait: "Broadcast Setup", whose box comes up.
        QTimer setupClicker;
        connect(&setupClicker, &QTimer::timeout, this, [&] {
            if (!form.Button4->isEnabled()) {
                setupClicker.stop();
                QTest::mouseClick(form.Button2, Qt::LeftButton);
            }
        });
        setupClicker.start(kPollMs);
        // Inside the box's own loop: once the answer waits, the box stays up
        // for kBoxUpMs with nothing else to do, then the operator presses OK.
        QString boxText;
        double cpuUsed = -1.0;
        qint64 measuredMs = 0;
        QTimer answerWaits;
        connect(&answerWaits, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible() || !Readable(form.Channel.Socket)) {
                return;
            }
            answerWaits.stop();
            const double cpuAtStart = ProcessCpuMs();
            QElapsedTimer boxUp;
            boxUp.start();
            QTimer::singleShot(kBoxUpMs, Qt::PreciseTimer, box, [&, box, cpuAtStart, boxUp] {
                cpuUsed = ProcessCpuMs() - cpuAtStart;
                measuredMs = boxUp.elapsed();
                boxText = box->text();
                box->button(QMessageBox::Ok)->click();
            });
        });
        answerWaits.start(kPollMs);

        QTest::mouseClick(form.Button4, Qt::LeftButton);

        QCOMPARE(boxText, QStringLiteral("Not response !!!"));
        QVERIFY2(cpuUsed >= 0.0 && cpuUsed < kMostCpuMs,
                 qPrintable(QStringLiteral("%1 ms of CPU in %2 ms with the box up")
                                .arg(cpuUsed)
                                .arg(measuredMs)));
        QCOMPARE(form.Label6->text(), status);
        QVERIFY(form.Button4->isEnabled());
        QCOMPARE(form.Channel.SocketOpen, 0);
    }
};

QTEST_MAIN(SetIdNestedBoxTest)
#include "set_id_nested_box_test.moc"
