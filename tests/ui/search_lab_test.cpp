// The Search button against velquint-sim, inside the lab of network
// namespaces: every click broadcasts a real discovery request.
#include <QApplication>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <memory>
#include <string>
#include <vector>

#include "app/MessageBox.h"
#include "app/Unit1.h"
#include "support/DeviceListDriver.h"
#include "tests/support/LabSupport.h"

using namespace device_list_driver;

namespace {

std::string Device(const char* mac, const char* ip, const char* more = "") {
    return std::string("mac=") + mac + ",ip=" + ip + more;
}

}  // namespace

class SearchLabTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<MessageBoxRecorder> boxes_;

    // Presses "Search"; the handler runs to its end inside the click.
    void clickSearch() {
        RequireLabNamespace();
        QTest::mouseClick(form_->Button1, Qt::LeftButton);
    }

private slots:
    void init() {
        boxes_ = std::make_unique<MessageBoxRecorder>();
        form_ = std::make_unique<TForm1>();
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }
    void cleanup() {
        form_.reset();
        boxes_.reset();
    }

    void loneDeviceIsSelectedWithItsSettings() {
        SimProcess sim({"--device", Device("00.1A.2B.3C.4D.5E", "192.168.1.9",
                                           ",version=1.05,mask=255.255.255.0,"
                                           "gateway=192.168.1.1,port=4001,baud=7")});
        QVERIFY2(sim.ready(), sim.failure().c_str());
        TypeNewSettings(*form_, kTyped);
        // The lone row is selected while the search still runs.
        bool searchEnabledWhenSelected = true;
        connect(form_->ListView1, &QTreeWidget::itemSelectionChanged, this,
                [&] { searchEnabledWhenSelected = form_->Button1->isEnabled(); });

        clickSearch();

        QCOMPARE(Captions(*form_), QStringList{QStringLiteral("00.1A.2B.3C.4D.5E")});
        QCOMPARE(SelectedRows(*form_), QList<int>{0});
        QCOMPARE(ReadNewSettings(*form_),
                 (NewSettings{QStringLiteral("192.168.1.9"), QStringLiteral("255.255.255.0"),
                              QStringLiteral("192.168.1.1"), QStringLiteral("4001"),
                              QStringLiteral("115200"), 7}));
        QCOMPARE(form_->ListView1->topLevelItem(0)->text(6), QStringLiteral("1.05"));
        QVERIFY(!searchEnabledWhenSelected);
        QVERIFY(form_->Button1->isEnabled());
        QVERIFY(boxes_->boxes().empty());
    }

    void severalDevicesAreSortedAndNoneIsSelected() {
        // Answering in descending MAC order; two share an address.
        SimProcess sim({"--device", Device("00.1A.2B.00.00.03", "192.168.1.10"),  //
                        "--device", Device("00.1A.2B.00.00.02", "192.168.1.9"),   //
                        "--device", Device("00.1A.2B.00.00.01", "192.168.1.10")});
        QVERIFY2(sim.ready(), sim.failure().c_str());
        TypeNewSettings(*form_, kTyped);

        clickSearch();

        QCOMPARE(Captions(*form_),
                 (QStringList{"00.1A.2B.00.00.01", "00.1A.2B.00.00.02", "00.1A.2B.00.00.03"}));
        QVERIFY(SelectedRows(*form_).isEmpty());
        QCOMPARE(ReadNewSettings(*form_), kEmptySettings);

        // By IP the two at .10 come out the other way round.
        ClickHeader(*form_, kIpColumn);
        QCOMPARE(Captions(*form_),
                 (QStringList{"00.1A.2B.00.00.02", "00.1A.2B.00.00.03", "00.1A.2B.00.00.01"}));
    }

    void searchKeepsTheChosenOrder() {
        SimProcess sim({"--device", Device("00.1A.2B.00.00.01", "192.168.1.9"),  //
                        "--device", Device("00.1A.2B.00.00.02", "192.168.1.10")});
        QVERIFY2(sim.ready(), sim.failure().c_str());
        ClickHeader(*form_, kIpColumn);
        ClickHeader(*form_, kIpColumn);
        QCOMPARE(form_->SortOrder, uint8_t{4});

        clickSearch();

        QCOMPARE(Captions(*form_), (QStringList{"00.1A.2B.00.00.02", "00.1A.2B.00.00.01"}));
    }

    void unprogrammedMacsAreNamedAfterTheSearch_data() {
        QTest::addColumn<QStringList>("macs");
        QTest::addColumn<QString>("text");
        QTest::newRow("one") << QStringList{"00.1A.2B.3C.4D.5E", "00.1A.2B.FF.FF.FF"}
                             << QStringLiteral("MAC ID:00.1A.2B.FF.FF.FF\n");
        QTest::newRow("two") << QStringList{"00.1A.2C.FF.FF.FF", "00.1A.2B.3C.4D.5E",
                                            "00.1A.2B.FF.FF.FF"}
                             << QStringLiteral(
                                    "MAC ID:00.1A.2B.FF.FF.FF\n"
                                    "MAC ID:00.1A.2C.FF.FF.FF\n");
    }
    void unprogrammedMacsAreNamedAfterTheSearch() {
        QFETCH(QStringList, macs);
        QFETCH(QString, text);
        std::vector<std::string> arguments;
        for (const QString& mac : macs) {
            arguments.push_back("--device");
            arguments.push_back(Device(qPrintable(mac), "192.168.1.9"));
        }
        SimProcess sim(arguments);
        QVERIFY2(sim.ready(), sim.failure().c_str());

        clickSearch();

        QCOMPARE(form_->ListView1->topLevelItemCount(), int(macs.size()));
        QCOMPARE(boxes_->boxes().size(), size_t{1});
        QCOMPARE(boxes_->boxes()[0].text, text);
        QCOMPARE(boxes_->boxes()[0].title, QStringLiteral("Error"));
        QCOMPARE(boxes_->boxes()[0].style, MessageBoxStyle::IconError);
    }

    void noDeviceEmptiesTheListAndSaysSo() {
        {
            SimProcess sim({"--device", Device("00.1A.2B.3C.4D.5E", "192.168.1.9")});
            QVERIFY2(sim.ready(), sim.failure().c_str());
            clickSearch();
            QCOMPARE(form_->ListView1->topLevelItemCount(), 1);
        }

        clickSearch();

        QCOMPARE(form_->ListView1->topLevelItemCount(), 0);
        QCOMPARE(ReadNewSettings(*form_), kEmptySettings);
        QCOMPARE(boxes_->boxes().size(), size_t{1});
        QCOMPARE(boxes_->boxes()[0].text, QStringLiteral("Can't find any Device !!!"));
        QCOMPARE(boxes_->boxes()[0].title, QString());
        QCOMPARE(boxes_->boxes()[0].style, MessageBoxStyle::Ok);
        QVERIFY(form_->Button1->isEnabled());
    }

    void fullTableListsTheDevicesItStored() {
        // 32 records of 248 bytes fill the table; the 33rd reply does not fit.
        SimProcess sim({"--generate", "33,length=256"});
        QVERIFY2(sim.ready(), sim.failure().c_str());

        clickSearch();

        const QStringList captions = Captions(*form_);
        QCOMPARE(captions.size(), 32);
        for (int i = 1; i < captions.size(); ++i) {
            QVERIFY2(captions[i - 1] <= captions[i], qPrintable(captions[i]));
        }
        QVERIFY(boxes_->boxes().empty());
    }
};

QTEST_MAIN(SearchLabTest)
#include "search_lab_test.moc"
