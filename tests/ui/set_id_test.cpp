// "Set ID" in the real window on the offscreen platform, against velquint-sim
// on 127.0.0.1: its checks and their messages in order, the bytes it sends,
// the status label with its colours and its countdown, and a window that
// stays live while the device's reply is awaited.

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <string>
#include <vector>

#include "app/AutoSizeLabel.h"
#include "app/MessageBox.h"
#include "app/SetIdPanel.h"
#include "app/StandardErrorBox.h"
#include "app/Unit1.h"
#include "support/SetIdSupport.h"
#include "tests/support/LoopbackSim.h"

using setidtest::FillSetId;
using setidtest::kStatusTicks;
using setidtest::Listener;

Q_DECLARE_METATYPE(std::string)

namespace {

const QString kLoopback = QStringLiteral("127.0.0.1");
const QString kStatus = QStringLiteral("status");
const QString kOk = QStringLiteral("OK");
const QString kError = QStringLiteral("Error !!!");
const QString kErrorTitle = QStringLiteral("Error");
// Far beyond the 3 s the status shows; only catches a clear that never comes.
constexpr int kClearLimitMs = 15000;
// The 14 bytes of Set ID 5 as the first request of a run.
const std::vector<uint8_t> kWorkedRequest = {0x19, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02,
                                             0xFD, 0x02, 0x5A, 0x05, 0x35, 0x06, 0x03};
constexpr size_t kIdOffset = 10;
constexpr size_t kSequenceOffset = 1;
// The port that a Port text of 70000 names.
constexpr uint16_t kPortOf70000 = 4464;

QString PortText(const LoopbackSim& sim, size_t device = 0) {
    return QString::number(sim.Port(device));
}

}  // namespace

class SetIdTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<MessageBoxRecorder> boxes_;

    // The panel as it stands when nothing has happened to it.
    void verifyUntouched() {
        QCOMPARE(form_->Label6->text(), kStatus);
        QCOMPARE(form_->Label6->colour(), ButtonFaceColour());
        QVERIFY(form_->Button4->isEnabled());
        QVERIFY(form_->Timer1->isActive());
        QCOMPARE(StatusCountdown, uint8_t{0});
        QCOMPARE(form_->Channel.SocketOpen, 0);
    }

    void verifyOneBox(const QString& text, const QString& title) {
        QCOMPARE(int(boxes_->boxes().size()), 1);
        QCOMPARE(boxes_->boxes()[0].text, text);
        QCOMPARE(boxes_->boxes()[0].title, title);
        QCOMPARE(boxes_->boxes()[0].style, MessageBoxStyle::IconError);
    }

    void verifyOutcome(const QString& caption, const QColor& colour) {
        QCOMPARE(form_->Label6->text(), caption);
        QCOMPARE(form_->Label6->colour(), colour);
        QCOMPARE(StatusCountdown, uint8_t{kStatusTicks});
        QVERIFY(form_->Timer1->isActive());
        QVERIFY(form_->Button4->isEnabled());
        QCOMPARE(form_->Channel.SocketOpen, 0);
        QVERIFY(boxes_->boxes().empty());
    }

private slots:
    void initTestCase() {
        QVERIFY2(!qEnvironmentVariable("VELQUINT_SIM").isEmpty(),
                 "VELQUINT_SIM must name velquint-sim");
    }

    void init() {
        StatusCountdown = 0;
        boxes_ = std::make_unique<MessageBoxRecorder>();
        form_ = std::make_unique<TForm1>();
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }

    void cleanup() {
        form_.reset();
        boxes_.reset();
    }

    // ---- checks before anything is sent ----

    void checksStopAtTheFirstFailingField_data() {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("port");  // "<port>": the listener's
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("standardErrorBox");

        QTest::newRow("all empty") << ""
                                   << ""
                                   << ""
                                   << "IP is empty !!!" << false;
        QTest::newRow("IP empty") << ""
                                  << "<port>"
                                  << "5"
                                  << "IP is empty !!!" << false;
        QTest::newRow("Port empty") << "127.0.0.1"
                                    << ""
                                    << "5"
                                    << "Port is empty !!!" << false;
        QTest::newRow("Port empty before a bad ID") << "127.0.0.1"
                                                    << ""
                                                    << "abc"
                                                    << "Port is empty !!!" << false;
        QTest::newRow("ID 256") << "127.0.0.1"
                                << "<port>"
                                << "256"
                                << "ID > 255 !!!" << false;
        QTest::newRow("ID above 255 before a bad port") << "127.0.0.1"
                                                        << "x"
                                                        << "1000"
                                                        << "ID > 255 !!!" << false;
        QTest::newRow("ID not a number") << "127.0.0.1"
                                         << "<port>"
                                         << "abc"
                                         << "'abc' is not a valid integer value." << true;
        QTest::newRow("ID empty") << "127.0.0.1"
                                  << "<port>"
                                  << ""
                                  << "'' is not a valid integer value." << true;
        QTest::newRow("Port not a number") << "127.0.0.1"
                                           << "4x"
                                           << "5"
                                           << "'4x' is not a valid integer value." << true;
        QTest::newRow("bad port after an address too long")
            << "127.0.0.1.127.0.0.1.1"
            << "x"
            << "5"
            << "'x' is not a valid integer value." << true;
    }
    void checksStopAtTheFirstFailingField() {
        QFETCH(QString, ip);
        QFETCH(QString, port);
        QFETCH(QString, id);
        QFETCH(QString, text);
        QFETCH(bool, standardErrorBox);
        Listener device;
        QVERIFY(device.ok());
        FillSetId(*form_, ip, port == QLatin1String("<port>") ? device.portText() : port, id);

        QTest::mouseClick(form_->Button4, Qt::LeftButton);

        verifyOneBox(text, standardErrorBox ? ApplicationTitle() : kErrorTitle);
        QVERIFY2(!device.Connected(), "connected although a check failed");
        verifyUntouched();
    }

    void connectionFailuresSayCannotConnect_data() {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<bool>("refusingPort");

        QTest::newRow("nothing listens") << "127.0.0.1" << true;
        QTest::newRow("host name") << "localhost" << false;
        QTest::newRow("all-ones address") << "255.255.255.255" << false;
        // Read as octal, the parts would name the listener at 127.0.0.1.
        QTest::newRow("parts with leading zeros") << "127.000.000.001" << false;
        QTest::newRow("20 characters") << "127.000.000.00001.00" << false;
        QTest::newRow("address and a port in one") << "127.0.0.1:4001" << false;
        // Cut at the zero, the text would name the listener.
        QTest::newRow("zero character inside")
            << QStringLiteral("127.0.0.1") + QChar(u'\0') + QStringLiteral("x") << false;
    }
    void connectionFailuresSayCannotConnect() {
        QFETCH(QString, ip);
        QFETCH(bool, refusingPort);
        Listener device;
        QVERIFY(device.ok());
        const QString port =
            refusingPort ? QString::number(setidtest::RefusingPort()) : device.portText();
        FillSetId(*form_, ip, port, QStringLiteral("5"));

        QTest::mouseClick(form_->Button4, Qt::LeftButton);

        verifyOneBox(QStringLiteral("Can not connected !!!"), kErrorTitle);
        QVERIFY2(!device.Connected(), "a text that is no dotted address reached a listener");
        verifyUntouched();
    }

    // ---- what goes out ----

    void workedExampleOnTheWire() {
        LoopbackSim sim({"--device", "port=0"});
        QVERIFY2(sim.ready(), sim.failure().c_str());
        FillSetId(*form_, kLoopback, PortText(sim), QStringLiteral("5"));

        QTest::mouseClick(form_->Button4, Qt::LeftButton);

        const std::vector<LoopbackSim::Frame> frames = sim.Frames();
        QCOMPARE(int(frames.size()), 1);
        QCOMPARE(HexText(frames[0].bytes), HexText(kWorkedRequest));
        verifyOutcome(kOk, kColourGreen);
    }

    void idGoesOutAsItsLowByte_data() {
        QTest::addColumn<QString>("id");
        QTest::addColumn<int>("byte");
        QTest::newRow("0") << "0" << 0x00;
        QTest::newRow("255") << "255" << 0xFF;
        QTest::newRow("-1, no lower bound") << "-1" << 0xFF;
        QTest::newRow("-256") << "-256" << 0x00;
        QTest::newRow("hexadecimal $80") << "$80" << 0x80;
        QTest::newRow("leading blanks") << "  7" << 0x07;
    }
    void idGoesOutAsItsLowByte() {
        QFETCH(QString, id);
        QFETCH(int, byte);
        LoopbackSim sim({"--device", "port=0"});
        QVERIFY2(sim.ready(), sim.failure().c_str());
        FillSetId(*form_, kLoopback, PortText(sim), id);

        QTest::mouseClick(form_->Button4, Qt::LeftButton);

        const std::vector<LoopbackSim::Frame> frames = sim.Frames();
        QCOMPARE(int(frames.size()), 1);
        QVERIFY(frames[0].valid);
        QCOMPARE(int(frames[0].bytes[kIdOffset]), byte);
        verifyOutcome(kOk, kColourGreen);
    }

    void portTakesItsLow16Bits_data() {
        QTest::addColumn<QString>("port");
        QTest::newRow("70000") << "70000";
        QTest::newRow("-61072") << "-61072";
        QTest::newRow("4464 itself") << "4464";
    }
    void portTakesItsLow16Bits() {
        QFETCH(QString, port);
        LoopbackSim sim({"--device", "port=" + std::to_string(kPortOf70000)});
        QVERIFY2(sim.ready(), (sim.failure() + " (is port 4464 taken?)").c_str());
        FillSetId(*form_, kLoopback, port, QStringLiteral("9"));

        QTest::mouseClick(form_->Button4, Qt::LeftButton);

        const std::vector<LoopbackSim::Frame> frames = sim.Frames();
        QCOMPARE(int(frames.size()), 1);
        QCOMPARE(QString::fromStdString(frames[0].endpoint), QStringLiteral("127.0.0.1:4464"));
        verifyOutcome(kOk, kColourGreen);
    }

    void consecutiveSetIdsCarryConsecutiveSequenceNumbers() {
        LoopbackSim sim({"--device", "port=0"});
        QVERIFY2(sim.ready(), sim.failure().c_str());
        FillSetId(*form_, kLoopback, PortText(sim), QStringLiteral("1"));
        QTest::mouseClick(form_->Button4, Qt::LeftButton);
        form_->Edit5->setText(QStringLiteral("2"));
        QTest::mouseClick(form_->Button4, Qt::LeftButton);

        const std::vector<LoopbackSim::Frame> frames = sim.Frames();
        QCOMPARE(int(frames.size()), 2);
        QCOMPARE(int(frames[0].bytes[kSequenceOffset]), 1);
        QCOMPARE(int(frames[1].bytes[kSequenceOffset]), 2);
        QCOMPARE(int(frames[1].bytes[kIdOffset]), 2);
    }

    // ---- the outcome ----

    void outcomeShowsInLabel6_data() {
        QTest::addColumn<std::string>("device");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("answer") << std::string("") << kOk << kColourGreen;
        QTest::newRow("result 0x80") << std::string("tcp-result=128") << kOk << kColourGreen;
        QTest::newRow("result 2") << std::string("tcp-result=2") << kError << kColourRed;
        QTest::newRow("result 0x81 with detail")
            << std::string("tcp-result=129,tcp-data=0702") << kError << kColourRed;
        QTest::newRow("bad CRC") << std::string("tcp-bad-crc=1") << kError << kColourRed;
        QTest::newRow("connection closed")
            << std::string("tcp-reply=close") << kError << kColourRed;
        QTest::newRow("silent for 3 s") << std::string("tcp-reply=none") << kError << kColourRed;
    }
    void outcomeShowsInLabel6() {
        QFETCH(std::string, device);
        QFETCH(QString, caption);
        QFETCH(QColor, colour);
        LoopbackSim sim({"--device", "port=0," + device});
        QVERIFY2(sim.ready(), sim.failure().c_str());
        FillSetId(*form_, kLoopback, PortText(sim), QStringLiteral("5"));

        QTest::mouseClick(form_->Button4, Qt::LeftButton);

        verifyOutcome(caption, colour);
    }

    void statusClearsOnTheThirtiethTick() {
        LoopbackSim sim({"--device", "port=0"});
        QVERIFY2(sim.ready(), sim.failure().c_str());
        FillSetId(*form_, kLoopback, PortText(sim), QStringLiteral("5"));
        QTest::mouseClick(form_->Button4, Qt::LeftButton);
        verifyOutcome(kOk, kColourGreen);

        // Counted by hand, without the timer's own ticks.
        form_->Timer1->stop();
        for (int tick = 1; tick < kStatusTicks; ++tick) {
            form_->Timer1Timer();
        }
        QCOMPARE(form_->Label6->text(), kOk);
        QCOMPARE(form_->Label6->colour(), kColourGreen);
        QCOMPARE(StatusCountdown, uint8_t{1});
        form_->Timer1->start();
        form_->Timer1Timer();
        QCOMPARE(form_->Label6->text(), QString());
        QCOMPARE(form_->Label6->colour(), ButtonFaceColour());
        QVERIFY(!form_->Timer1->isActive());
        QCOMPARE(StatusCountdown, uint8_t{0});
        // With nothing left to count, ticks change nothing.
        form_->Timer1Timer();
        QCOMPARE(StatusCountdown, uint8_t{0});
        QCOMPARE(form_->Label6->text(), QString());
    }

    void ticksChangeNothingBeforeTheFirstSetId() {
        for (int tick = 0; tick < 2 * kStatusTicks; ++tick) {
            form_->Timer1Timer();
        }
        verifyUntouched();
    }

    void statusClearsAbout3SecondsLater() {
        LoopbackSim sim({"--device", "port=0"});
        QVERIFY2(sim.ready(), sim.failure().c_str());
        FillSetId(*form_, kLoopback, PortText(sim), QStringLiteral("5"));
        QTest::mouseClick(form_->Button4, Qt::LeftButton);
        verifyOutcome(kOk, kColourGreen);

        QTRY_COMPARE_WITH_TIMEOUT(form_->Label6->text(), QString(), kClearLimitMs);
        QCOMPARE(form_->Label6->colour(), ButtonFaceColour());
        QVERIFY(!form_->Timer1->isActive());
        QCOMPARE(StatusCountdown, uint8_t{0});
        QVERIFY(form_->Button4->isEnabled());
    }

    void secondSetIdRestartsTheCountdown() {
        LoopbackSim sim({"--device", "port=0", "--device", "port=0,tcp-result=2"});
        QVERIFY2(sim.ready(), sim.failure().c_str());
        FillSetId(*form_, kLoopback, PortText(sim, 0), QStringLiteral("5"));
        QTest::mouseClick(form_->Button4, Qt::LeftButton);
        verifyOutcome(kOk, kColourGreen);

        // One second later, by the timer's own count.
        QTRY_VERIFY_WITH_TIMEOUT(StatusCountdown <= kStatusTicks - 10, kClearLimitMs);
        form_->Edit4->setText(PortText(sim, 1));
        QTest::mouseClick(form_->Button4, Qt::LeftButton);
        verifyOutcome(kError, kColourRed);

        // Past the moment the first outcome would have been cleared.
        QTRY_VERIFY_WITH_TIMEOUT(StatusCountdown <= 5, kClearLimitMs);
        QCOMPARE(form_->Label6->text(), kError);
        QCOMPARE(form_->Label6->colour(), kColourRed);
        QTRY_COMPARE_WITH_TIMEOUT(form_->Label6->text(), QString(), kClearLimitMs);
        QCOMPARE(form_->Label6->colour(), ButtonFaceColour());

        const std::vector<LoopbackSim::Frame> frames = sim.Frames();
        QCOMPARE(int(frames.size()), 2);
        QCOMPARE(int(frames[0].bytes[kSequenceOffset]), 1);
        QCOMPARE(int(frames[1].bytes[kSequenceOffset]), 2);
    }

    // ---- the window while the reply is awaited ----

    void windowStaysLiveWhileTheReplyIsAwaited() {
        // The second device answers 1.5 s late; the first's countdown runs
        // out meanwhile.
        LoopbackSim sim({"--device", "port=0", "--device", "port=0,tcp-delay=1500"});
        QVERIFY2(sim.ready(), sim.failure().c_str());
        FillSetId(*form_, kLoopback, PortText(sim, 0), QStringLiteral("5"));
        QTest::mouseClick(form_->Button4, Qt::LeftButton);
        verifyOutcome(kOk, kColourGreen);
        QTRY_VERIFY_WITH_TIMEOUT(StatusCountdown <= 5, kClearLimitMs);
        form_->Edit4->setText(PortText(sim, 1));

        struct Sample {
            bool setIdEnabled;
            QString status;
            bool timerActive;
        };
        std::vector<Sample> samples;
        QTimer probe;
        probe.setInterval(20);
        connect(&probe, &QTimer::timeout, [&] {
            samples.push_back(
                {form_->Button4->isEnabled(), form_->Label6->text(), form_->Timer1->isActive()});
            // Set ID may not start again while it runs.
            form_->Button4->click();
            QTest::mouseClick(form_->Button4, Qt::LeftButton);
        });
        probe.start();
        QTest::mouseClick(form_->Button4, Qt::LeftButton);
        probe.stop();

        int duringWait = 0;
        bool clearedDuringWait = false;
        for (const Sample& sample : samples) {
            if (sample.setIdEnabled) {
                continue;
            }
            ++duringWait;
            clearedDuringWait =
                clearedDuringWait || (sample.status.isEmpty() && !sample.timerActive);
        }
        QVERIFY2(duringWait >= 10, "other events did not run while the reply was awaited");
        QVERIFY2(clearedDuringWait, "Timer1 did not clear the status during the wait");
        verifyOutcome(kOk, kColourGreen);
        QCOMPARE(int(sim.Frames().size()), 2);
    }
};

QTEST_MAIN(SetIdTest)
#include "set_id_test.moc"
