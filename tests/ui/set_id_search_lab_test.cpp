// Other buttons during a Set ID, inside the lab: while Set ID waits for its
// device's reply, a click on "Search" or "Broadcast Setup" runs its handler to
// the end, and the Set ID then completes with the reply that came meanwhile.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <functional>
#include <memory>
#include <string>

#include "app/AutoSizeLabel.h"
#include "app/MessageBox.h"
#include "app/SetIdPanel.h"
#include "app/Unit1.h"
#include "support/SetIdSupport.h"
#include "tests/support/LabSupport.h"

namespace {

const char* const kMacText = "00.1A.2B.3C.4D.5E";

// A device at FirstDeviceIp():4001 that answers discovery at once and Set ID
// after `replyDelayMs`, plus `more` settings.
std::vector<std::string> Device(int replyDelayMs, const std::string& more = "") {
    return {"--device", "mac=00.1A.2B.3C.4D.5E,ip=" + FirstDeviceIp() +
                            ",mask=255.255.255.0,gateway=" + DeviceNetPrefix() +
                            "1,port=4001,baud=3,tcp-delay=" + std::to_string(replyDelayMs) + more};
}

}  // namespace

class SetIdSearchTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<MessageBoxRecorder> boxes_;

    // Clicks Set ID and, once its reply is awaited, runs `during` (once)
    // from inside that wait. Returns whether `during` ran while Set ID was
    // still waiting, before and after it.
    bool setIdWith(const std::function<void()>& during) {
        bool waitingBefore = false;
        bool waitingAfter = false;
        bool done = false;
        QTimer trigger;
        trigger.setInterval(20);
        connect(&trigger, &QTimer::timeout, [&] {
            if (done || form_->Button4->isEnabled()) {
                return;
            }
            done = true;
            waitingBefore = !form_->Button4->isEnabled();
            during();
            waitingAfter = !form_->Button4->isEnabled();
        });
        trigger.start();
        QTest::mouseClick(form_->Button4, Qt::LeftButton);
        return done && waitingBefore && waitingAfter;
    }

    void verifyOk() {
        QCOMPARE(form_->Label6->text(), QStringLiteral("OK"));
        QCOMPARE(form_->Label6->colour(), kColourGreen);
        QCOMPARE(StatusCountdown, uint8_t{setidtest::kStatusTicks});
        QVERIFY(form_->Button4->isEnabled());
        QCOMPARE(form_->Channel.SocketOpen, 0);
    }

private slots:
    void init() {
        RequireLabNamespace();
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

    void searchRunsToItsEndWhileSetIdWaits() {
        SimProcess sim(Device(1500));
        QVERIFY2(sim.ready(), sim.failure().c_str());
        form_->Edit1->setText(QString::fromStdString(FirstDeviceIp()));
        form_->Edit4->setText(QStringLiteral("4001"));
        form_->Edit5->setText(QStringLiteral("5"));

        const bool ranInside = setIdWith([this] {
            RequireLabNamespace();
            QTest::mouseClick(form_->Button1, Qt::LeftButton);
        });

        QVERIFY2(ranInside, "Search did not run to its end inside the Set ID's wait");
        // The search's outcome: the lone device listed, selected, its
        // settings in the fields.
        QCOMPARE(form_->ListView1->topLevelItemCount(), 1);
        QCOMPARE(form_->ListView1->topLevelItem(0)->text(0), QLatin1String(kMacText));
        QVERIFY(form_->ListView1->topLevelItem(0)->isSelected());
        QCOMPARE(form_->Edit1->text(), QString::fromStdString(FirstDeviceIp()));
        QVERIFY(form_->Button1->isEnabled());
        QVERIFY(boxes_->boxes().empty());
        verifyOk();
    }

    void replyThatCameDuringALongerHandlerIsStillTaken() {
        // The setup waits its full 5 s for an answer that never comes, far
        // past the Set ID's 3 s; the reply came after 1 s and is waiting, and
        // time runs out only while nothing is.
        SimProcess sim(Device(1000, ",setup-reply=none"));
        QVERIFY2(sim.ready(), sim.failure().c_str());
        RequireLabNamespace();
        QTest::mouseClick(form_->Button1, Qt::LeftButton);
        QCOMPARE(form_->ListView1->topLevelItemCount(), 1);
        form_->Edit5->setText(QStringLiteral("5"));

        const bool ranInside = setIdWith([this] {
            RequireLabNamespace();
            QTest::mouseClick(form_->Button2, Qt::LeftButton);
        });

        QVERIFY2(ranInside, "Broadcast Setup did not run to its end inside the Set ID's wait");
        QCOMPARE(int(boxes_->boxes().size()), 1);
        QCOMPARE(boxes_->boxes()[0].text, QStringLiteral("Not response !!!"));
        QVERIFY(form_->Button2->isEnabled());
        verifyOk();
    }
};

QTEST_MAIN(SetIdSearchTest)

#include "set_id_search_lab_test.moc"
