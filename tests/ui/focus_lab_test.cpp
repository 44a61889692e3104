// The keyboard focus stays with the button the operator pressed. Each handler
// disables its own button while it runs; afterwards the focus is on that
// button again, whether a box was shown, none was, or the handler ended in the
// standard error box, so the next Space presses the same button and not the
// next one in the tab order. "Search" broadcasts, so the whole executable runs
// in the lab; the setups go to an exchange that sends nothing.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <memory>
#include <string>
#include <vector>

#include "app/AutoSizeLabel.h"
#include "app/Unit1.h"
#include "support/BoxAnswerer.h"
#include "tests/support/LabSupport.h"

namespace {

enum Button { kSearch = 1, kBroadcastSetup, kConnectSetup, kSetId };

constexpr int kConfirmed = 0;
constexpr int kNotConfirmed = -1;

// The simulated device a case runs against.
enum DeviceKind { kNoDevice, kAnswers, kAnswersLate };
// Long enough for a click during Set ID's wait.
constexpr int kLateMs = 500;
constexpr int kPollMs = 10;

// Answers discovery at once and Set ID after `setIdDelayMs`.
std::vector<std::string> Device(int setIdDelayMs) {
    return {"--device", "mac=00.1A.2B.3C.4D.5E,ip=" + FirstDeviceIp() +
                            ",port=4001,tcp-delay=" + std::to_string(setIdDelayMs)};
}

QString FocusName() {
    const QWidget* focus = QApplication::focusWidget();
    return focus != nullptr ? focus->objectName() : QStringLiteral("(none)");
}

}  // namespace

class FocusLabTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TForm1> form_;
    int exchangeAnswer_ = kConfirmed;

    QPushButton* button(int which) {
        QPushButton* const buttons[] = {form_->Button1, form_->Button2, form_->Button3,
                                        form_->Button4};
        return buttons[which - kSearch];
    }

private slots:
    void init() {
        form_ = std::make_unique<TForm1>();
        form_->SetupExchange = [this](const SetupRequest&) { return exchangeAnswer_; };
        form_->show();
        form_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    }
    void cleanup() { form_.reset(); }

    void spaceLeavesTheFocusOnThePressedButton_data() {
        QTest::addColumn<int>("pressed");
        QTest::addColumn<int>("device");
        QTest::addColumn<int>("exchangeAnswer");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("focusAfter");  // empty: the pressed button

        QTest::newRow("Search, a device answers")
            << int(kSearch) << int(kAnswers) << 0 << "" << QStringList() << "";
        QTest::newRow("Search, nothing answers") << int(kSearch) << int(kNoDevice) << 0 << ""
                                                 << QStringList{"Can't find any Device !!!"} << "";
        for (const int setup : {kBroadcastSetup, kConnectSetup}) {
            const char* name = setup == kBroadcastSetup ? "Broadcast Setup" : "Connect Setup";
            QTest::addRow("%s, confirmed", name)
                << setup << int(kNoDevice) << kConfirmed << "4001" << QStringList{"Success"} << "";
            QTest::addRow("%s, not confirmed", name)
                << setup << int(kNoDevice) << kNotConfirmed << "4001"
                << QStringList{"Not response !!!"} << "";
            QTest::addRow("%s, port that is no number", name)
                << setup << int(kNoDevice) << kConfirmed << "abc"
                << QStringList{"'abc' is not a valid integer value."} << "";
        }
        QTest::newRow("Set ID, the device answers")
            << int(kSetId) << int(kAnswers) << 0 << "4001" << QStringList() << "";
        // The window is live while Set ID waits: a field the operator clicks
        // meanwhile keeps the focus when Set ID ends.
        QTest::newRow("Set ID, the ID field clicked during the wait")
            << int(kSetId) << int(kAnswersLate) << 0 << "4001" << QStringList() << "Edit5";
    }
    void spaceLeavesTheFocusOnThePressedButton() {
        QFETCH(int, pressed);
        QFETCH(int, device);
        QFETCH(int, exchangeAnswer);
        QFETCH(QString, port);
        QFETCH(QStringList, boxes);
        QFETCH(QString, focusAfter);

        std::unique_ptr<SimProcess> sim;
        if (device != kNoDevice) {
            sim = std::make_unique<SimProcess>(Device(device == kAnswersLate ? kLateMs : 0));
            QVERIFY2(sim->ready(), sim->failure().c_str());
        }
        exchangeAnswer_ = exchangeAnswer;
        const QString ip = QString::fromStdString(FirstDeviceIp());
        form_->ListView1->setCurrentItem(new QTreeWidgetItem(
            form_->ListView1, QStringList{QStringLiteral("00.1A.2B.3C.4D.5E"), ip}));
        form_->Edit1->setText(ip);
        form_->Edit2->setText(QStringLiteral("255.255.255.0"));
        form_->Edit3->setText(QString::fromStdString(DeviceNetPrefix() + "1"));
        form_->Edit4->setText(port);
        form_->Edit5->setText(QStringLiteral("5"));
        QPushButton* const target = button(pressed);
        target->setFocus();
        QTRY_COMPARE(FocusName(), target->objectName());
        QTimer clicker;
        if (!focusAfter.isEmpty()) {
            connect(&clicker, &QTimer::timeout, this, [this] {
                if (!form_->Button4->isEnabled() && !form_->Edit5->hasFocus()) {
                    QTest::mouseClick(form_->Edit5, Qt::LeftButton);
                }
            });
            clicker.start(kPollMs);
        }

        BoxAnswerer answerer;
        RequireLabNamespace();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);

        QCOMPARE(answerer.texts(), boxes);
        QVERIFY(target->isEnabled());
        if (pressed == kSetId) {
            QCOMPARE(form_->Label6->text(), QStringLiteral("OK"));
        }
        QTRY_COMPARE(FocusName(), focusAfter.isEmpty() ? target->objectName() : focusAfter);
    }
};

QTEST_MAIN(FocusLabTest)

#include "focus_lab_test.moc"
