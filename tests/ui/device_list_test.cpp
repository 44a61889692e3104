// The device list without a network: the DeviceTable is filled directly, as
// a search would leave it, and the list is driven by clicks on its headers
// and rows.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <cstdint>
#include <memory>
#include <vector>

#include "app/MessageBox.h"
#include "app/Unit1.h"
#include "discovery/DeviceTable.h"
#include "support/DeviceListDriver.h"

using namespace device_list_driver;

namespace {

using Bytes = std::vector<uint8_t>;

struct Device {
    uint8_t macLast[3];  // the first three MAC bytes are 00.1A.2B
    uint8_t ip[4];
    uint8_t baudCode = 3;
};

// A 23-byte record: every field the list shows, nothing behind.
Bytes Record(const Device& device) {
    return {0x00,
            0x1A,
            0x2B,
            device.macLast[0],
            device.macLast[1],
            device.macLast[2],
            1,
            5,  // version 1.05
            device.ip[0],
            device.ip[1],
            device.ip[2],
            device.ip[3],
            255,
            255,
            255,
            0,
            device.ip[0],
            device.ip[1],
            device.ip[2],
            1,
            0x01,
            0xF6,  // port 502
            device.baudCode};
}

void FillTable(const std::vector<Bytes>& records) {
    size_t position = ResetDeviceTable(DeviceTable);
    for (const Bytes& record : records) {
        QVERIFY(AppendDeviceRecord(DeviceTable, kDeviceTableSize, &position, record.data(),
                                   record.size()));
    }
}

// Three devices, in table order A, B, C; A and C share their IP address.
const Bytes kDeviceA = Record({{0, 0, 3}, {192, 168, 1, 10}});
const Bytes kDeviceB = Record({{0, 0, 1}, {192, 168, 1, 9}});
const Bytes kDeviceC = Record({{0, 0, 2}, {192, 168, 1, 10}});
const QString kMacA = QStringLiteral("00.1A.2B.00.00.03");
const QString kMacB = QStringLiteral("00.1A.2B.00.00.01");
const QString kMacC = QStringLiteral("00.1A.2B.00.00.02");

}  // namespace

class DeviceListTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<MessageBoxRecorder> boxes_;

private slots:
    void init() {
        boxes_ = std::make_unique<MessageBoxRecorder>();
        ResetDeviceTable(DeviceTable);
        form_ = std::make_unique<TForm1>();
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }
    void cleanup() {
        form_.reset();
        boxes_.reset();
    }

    // --- Selection -------------------------------------------------------

    void loneDeviceIsSelectedAtOnceAndFillsTheInputs() {
        FillTable({Record({{0x3C, 0x4D, 0x5E}, {192, 168, 1, 9}, 7})});
        TypeNewSettings(*form_, kTyped);

        form_->ShowDeviceList();

        QCOMPARE(Captions(*form_), QStringList{QStringLiteral("00.1A.2B.3C.4D.5E")});
        QCOMPARE(SelectedRows(*form_), QList<int>{0});
        QCOMPARE(ReadNewSettings(*form_),
                 (NewSettings{QStringLiteral("192.168.1.9"), QStringLiteral("255.255.255.0"),
                              QStringLiteral("192.168.1.1"), QStringLiteral("502"),
                              QStringLiteral("115200"), 7}));
        const QTreeWidgetItem* row = form_->ListView1->topLevelItem(0);
        QStringList columns;
        for (int column = 0; column < form_->ListView1->columnCount(); ++column) {
            columns << row->text(column);
        }
        QCOMPARE(columns, (QStringList{"00.1A.2B.3C.4D.5E", "192.168.1.9", "255.255.255.0",
                                       "192.168.1.1", "502", "115200", "1.05"}));
        QVERIFY(boxes_->boxes().empty());
    }

    void severalDevicesSelectNothingAndLeaveTheInputsEmpty() {
        FillTable({kDeviceA, kDeviceB});
        TypeNewSettings(*form_, kTyped);

        form_->ShowDeviceList();

        QCOMPARE(Captions(*form_), (QStringList{kMacA, kMacB}));
        QVERIFY(SelectedRows(*form_).isEmpty());
        QCOMPARE(ReadNewSettings(*form_), kEmptySettings);
    }

    void clickedRowFillsTheInputsAndDeselectingKeepsThem() {
        FillTable({kDeviceA, Record({{0, 0, 1}, {10, 1, 2, 3}, 4})});
        form_->ShowDeviceList();

        ClickRow(*form_, 1);
        const NewSettings second{QStringLiteral("10.1.2.3"), QStringLiteral("255.255.255.0"),
                                 QStringLiteral("10.1.2.1"), QStringLiteral("502"),
                                 QStringLiteral("19200"),    4};
        QTRY_COMPARE(ReadNewSettings(*form_), second);

        // The operator edits the address, then deselects the row.
        form_->Edit1->setText(QStringLiteral("10.1.2.99"));
        ClickRow(*form_, 1, Qt::ControlModifier);
        QTRY_VERIFY(SelectedRows(*form_).isEmpty());
        NewSettings edited = second;
        edited.ip = QStringLiteral("10.1.2.99");
        QCOMPARE(ReadNewSettings(*form_), edited);

        ClickRow(*form_, 0);
        QTRY_COMPARE(ReadNewSettings(*form_).ip, QStringLiteral("192.168.1.10"));
        QCOMPARE(ReadNewSettings(*form_).baudRate, QStringLiteral("9600"));
        QCOMPARE(ReadNewSettings(*form_).baudIndex, 3);
    }

    void baudRateOutsideTheTableLeavesTheComboBoxAlone() {
        const Bytes noRate = Record({{0, 0, 9}, {10, 9, 9, 9}, 8});
        FillTable({kDeviceA, noRate});
        form_->ShowDeviceList();
        ClickRow(*form_, 0);
        QTRY_COMPARE(ReadNewSettings(*form_).baudIndex, 3);

        ClickRow(*form_, 1);

        QTRY_COMPARE(ReadNewSettings(*form_).ip, QStringLiteral("10.9.9.9"));
        QCOMPARE(form_->ListView1->topLevelItem(1)->text(5), QString());
        QCOMPARE(ReadNewSettings(*form_).baudRate, QStringLiteral("9600"));
        QCOMPARE(ReadNewSettings(*form_).baudIndex, 3);
    }

    void shortRecordIsListedWithEmptyTexts() {
        // A 9-byte reply: one record byte, no field whole.
        FillTable({Bytes{0x42}});
        TypeNewSettings(*form_, kTyped);

        form_->ShowDeviceList();

        QCOMPARE(form_->ListView1->topLevelItemCount(), 1);
        for (int column = 0; column < form_->ListView1->columnCount(); ++column) {
            QCOMPARE(form_->ListView1->topLevelItem(0)->text(column), QString());
        }
        QCOMPARE(SelectedRows(*form_), QList<int>{0});
        QCOMPARE(ReadNewSettings(*form_), kEmptySettings);
    }

    // --- Header clicks ---------------------------------------------------

    void headerClicksStepThroughTheSortOrders() {
        struct Step {
            int column;
            uint8_t order;
            QStringList rows;
        };
        // Every transition of the four orders; equal IPs (A and C) come out
        // in the reverse of the order they stood in before the click.
        const Step steps[] = {
            {kMacColumn, 2, {kMacA, kMacC, kMacB}}, {kMacColumn, 1, {kMacB, kMacC, kMacA}},
            {kIpColumn, 3, {kMacB, kMacA, kMacC}},  {kIpColumn, 4, {kMacC, kMacA, kMacB}},
            {kIpColumn, 3, {kMacB, kMacA, kMacC}},  {kMacColumn, 1, {kMacB, kMacC, kMacA}},
            {kMacColumn, 2, {kMacA, kMacC, kMacB}}, {kIpColumn, 4, {kMacC, kMacA, kMacB}},
            {kMacColumn, 2, {kMacA, kMacC, kMacB}},
        };
        FillTable({kDeviceA, kDeviceB, kDeviceC});
        form_->ShowDeviceList();
        QCOMPARE(Captions(*form_), (QStringList{kMacA, kMacB, kMacC}));

        int number = 0;
        for (const Step& step : steps) {
            ++number;
            ClickRow(*form_, 0);
            QTRY_VERIFY(!ReadNewSettings(*form_).ip.isEmpty());

            ClickHeader(*form_, step.column);

            QVERIFY2(form_->SortOrder == step.order, qPrintable(QString::number(number)));
            QCOMPARE(Captions(*form_), step.rows);
            QVERIFY(SelectedRows(*form_).isEmpty());
            QCOMPARE(ReadNewSettings(*form_), kEmptySettings);
        }
        QVERIFY(boxes_->boxes().empty());
    }

    void otherHeadersChangeNothing_data() {
        QTest::addColumn<int>("column");
        QTest::newRow("Submask") << 2;
        QTest::newRow("Gateway") << 3;
        QTest::newRow("Port") << 4;
        QTest::newRow("BaudRate") << 5;
        QTest::newRow("Version") << 6;
    }
    void otherHeadersChangeNothing() {
        QFETCH(int, column);
        FillTable({kDeviceA, kDeviceB, kDeviceC});
        form_->SortOrder = 4;
        form_->ShowDeviceList();
        ClickRow(*form_, 1);
        QTRY_COMPARE(ReadNewSettings(*form_).ip, QStringLiteral("192.168.1.9"));
        const NewSettings before = ReadNewSettings(*form_);
        QTreeWidgetItem* selected = form_->ListView1->topLevelItem(1);

        ClickHeader(*form_, column);

        QCOMPARE(form_->SortOrder, uint8_t{4});
        QCOMPARE(Captions(*form_), (QStringList{kMacA, kMacB, kMacC}));
        QCOMPARE(form_->ListView1->topLevelItem(1), selected);
        QCOMPARE(SelectedRows(*form_), QList<int>{1});
        QCOMPARE(ReadNewSettings(*form_), before);
    }

    void headerClickOnAnEmptyListClearsTheInputsInOrder() {
        TypeNewSettings(*form_, kTyped);
        QStringList cleared;
        for (QLineEdit* edit : {form_->Edit1, form_->Edit2, form_->Edit3, form_->Edit4}) {
            connect(edit, &QLineEdit::textChanged, this,
                    [&cleared, edit] { cleared << edit->objectName(); });
        }
        connect(form_->ComboBox1, &QComboBox::currentTextChanged, this,
                [&cleared] { cleared << QStringLiteral("ComboBox1"); });

        ClickHeader(*form_, kMacColumn);

        QCOMPARE(form_->SortOrder, uint8_t{2});
        QCOMPARE(form_->ListView1->topLevelItemCount(), 0);
        QCOMPARE(ReadNewSettings(*form_), kEmptySettings);
        cleared.removeDuplicates();
        QCOMPARE(cleared, (QStringList{"Edit1", "Edit2", "Edit3", "Edit4", "ComboBox1"}));
        QVERIFY(boxes_->boxes().empty());
    }

    // --- The warning for unprogrammed MACs -------------------------------

    void unprogrammedMacsAreNamedInOneBox_data() {
        QTest::addColumn<QList<int>>("unprogrammed");  // which of devices A, B, C
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("textSortedByIp");
        const QString line2B = QStringLiteral("MAC ID:00.1A.2B.FF.FF.FF\n");
        const QString line2C = QStringLiteral("MAC ID:00.1A.2C.FF.FF.FF\n");
        QTest::newRow("none") << QList<int>{} << QString() << QString();
        QTest::newRow("one") << QList<int>{1} << line2B << line2B;
        // A and C share an IP, so sorting by IP swaps them, and their lines.
        QTest::newRow("two") << QList<int>{0, 2} << line2B + line2C << line2C + line2B;
    }
    void unprogrammedMacsAreNamedInOneBox() {
        QFETCH(QList<int>, unprogrammed);
        QFETCH(QString, text);
        QFETCH(QString, textSortedByIp);
        std::vector<Bytes> records = {kDeviceA, kDeviceB, kDeviceC};
        for (int i = 0; i < unprogrammed.size(); ++i) {
            Bytes& record = records[static_cast<size_t>(unprogrammed[i])];
            record[2] = static_cast<uint8_t>(0x2B + i);
            record[3] = record[4] = record[5] = 0xFF;
        }
        FillTable(records);

        // Every rebuild names them again: the first showing and each re-sort,
        // but not a click that sorts nothing.
        form_->ShowDeviceList();
        ClickHeader(*form_, kIpColumn);
        ClickHeader(*form_, kSubmaskColumn);

        QCOMPARE(form_->ListView1->topLevelItemCount(), 3);
        if (text.isEmpty()) {
            QVERIFY(boxes_->boxes().empty());
            return;
        }
        QCOMPARE(boxes_->boxes().size(), size_t{2});
        for (const MessageBoxRecorder::Box& box : boxes_->boxes()) {
            QCOMPARE(box.title, QStringLiteral("Error"));
            QCOMPARE(box.style, MessageBoxStyle::IconError);
        }
        QCOMPARE(boxes_->boxes()[0].text, text);
        QCOMPARE(boxes_->boxes()[1].text, textSortedByIp);
    }

    void warningComesAfterTheLoneDeviceFilledTheInputs() {
        FillTable({Record({{0xFF, 0xFF, 0xFF}, {192, 168, 1, 9}})});
        size_t boxesWhenFilled = 99;
        connect(form_->Edit1, &QLineEdit::textChanged, this, [&](const QString& text) {
            if (!text.isEmpty()) {
                boxesWhenFilled = boxes_->boxes().size();
            }
        });

        form_->ShowDeviceList();

        QCOMPARE(boxesWhenFilled, size_t{0});
        QCOMPARE(boxes_->boxes().size(), size_t{1});
        QCOMPARE(SelectedRows(*form_), QList<int>{0});
    }
};

QTEST_MAIN(DeviceListTest)
#include "device_list_test.moc"
