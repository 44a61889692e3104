// "Broadcast Setup" and "Connect Setup" on the real window, against simulated
// devices in the lab. Every click here may send setup traffic, so the whole
// executable runs only inside a lab namespace.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/MessageBox.h"
#include "app/Unit1.h"
#include "discovery/DeviceListRows.h"
#include "discovery/DeviceTable.h"
#include "discovery/DiscoverDevices.h"
#include "setup/SendSetupRequest.h"
#include "setup/SetupRequest.h"
#include "tests/support/LabSupport.h"

namespace {

// The device every test talks to, at home in the first device namespace.
const char* const kMac = "00.1A.2B.3C.4D.5E";
const char* const kIp = "10.231.101.5";
const char* const kMask = "255.255.255.0";
const char* const kGateway = "10.231.101.1";
const char* const kPort = "4001";
const int kBaudIndex = 3;
const char* const kDevice =
    "mac=00.1A.2B.3C.4D.5E,ip=10.231.101.5,mask=255.255.255.0,gateway=10.231.101.1,"
    "port=4001,baud=3,version=1.05";
// Beside it, a device that takes setups but never confirms them.
const char* const kSilentMac = "00.1A.2B.3C.4D.60";
const char* const kSilentIp = "10.231.101.6";
const char* const kSilentDevice = "mac=00.1A.2B.3C.4D.60,ip=10.231.101.6,setup-reply=none";
// A device of the second device namespace, there to notice what reaches it.
const char* const kNeighbourIp = "10.231.102.7";
const char* const kNeighbourDevice = "mac=00.1A.2B.3C.4D.70,ip=10.231.102.7";

// How the simulators record what the tool sends: "10.231.0.2:3195 <hex>".
// These are the setup datagram's bytes up to the port, for kMac and the
// addresses kIp, kMask, kGateway.
const char* const kSetupHexUpToPort =
    "4B564D34374A5302"
    "001A2B3C4D5E"
    "0AE76505"
    "FFFFFF00"
    "0AE76501";

// The wait the tests let a setup have for its reply; the tool's five seconds
// would only slow the cases that get none.
constexpr int kTestReplyWaitSeconds = 1;
constexpr int kSearchWaitSeconds = 1;

QString Heard(const std::string& hex) {
    return QString::fromStdString(Lab().toolIp + ":3195 " + hex);
}

// What a box said, for comparing in one go.
QString Describe(const MessageBoxRecorder::Box& box) {
    return QStringLiteral("%1 | %2 | %3").arg(box.text, box.title).arg(box.style);
}
QString Describe(const char* text, const QString& title, unsigned style) {
    return QStringLiteral("%1 | %2 | %3").arg(QString::fromUtf8(text), title).arg(style);
}

// A setup the tool did not make, straight from the core: once its
// confirmation is back, the simulator has recorded everything sent before it.
void SendMarker(const char* mac, const char* ip) {
    SetupRequest marker;
    for (size_t i = 0; i < kSetupMacLength; ++i) {
        marker.Mac[i] = static_cast<uint8_t>(std::stoi(std::string(mac + 3 * i, 2), nullptr, 16));
    }
    CopyAddressText(marker.NewIp, ip);
    CopyAddressText(marker.NewMask, kMask);
    CopyAddressText(marker.NewGateway, kGateway);
    CopyAddressText(marker.CurrentIp, ip);
    marker.Port = 1;
    marker.ReplyWaitSeconds = kTestReplyWaitSeconds;
    marker.Broadcast = 0;
    QCOMPARE(SendSetupRequest(marker), kSetupSuccess);
}
const QString kMarkerTail = QStringLiteral("0001FF");

// Holds UDP port 3195 in the tool's namespace while it lives.
class PortHolder {
public:
    PortHolder() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(kDeviceUdpPort);
        bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    }
    ~PortHolder() { close(fd_); }
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;
    bool bound() const { return bound_; }

private:
    int fd_;
    bool bound_ = false;
};

}  // namespace

class SetupButtonsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<MessageBoxRecorder> boxes_;

    // What the window handed to the exchange, and how its buttons stood then.
    struct Exchange {
        SetupRequest request;
        bool button2Enabled;
        bool button3Enabled;
    };
    std::vector<Exchange> exchanges_;

    QPushButton* button(bool broadcast) { return broadcast ? form_->Button2 : form_->Button3; }

    QStringList heard(const char* file = "heard") {
        QStringList lines;
        for (const std::string& line : ReadLines(dir_->File(file))) {
            lines << QString::fromStdString(line);
        }
        return lines;
    }

    // A row as the list shows a device: caption, then the six sub-items.
    QTreeWidgetItem* addRow(const QStringList& texts) {
        auto* row = new QTreeWidgetItem(form_->ListView1, texts);
        return row;
    }
    QTreeWidgetItem* addDeviceRow(const char* mac = kMac, const char* ip = kIp) {
        return addRow({QLatin1String(mac), QLatin1String(ip), QLatin1String(kMask),
                       QLatin1String(kGateway), QLatin1String(kPort), QStringLiteral("9600"),
                       QStringLiteral("1.05")});
    }
    void select(QTreeWidgetItem* row) {
        form_->ListView1->setCurrentItem(row);
        QVERIFY(row->isSelected());
    }

    // What the operator types into the "New" group; the rows' selection
    // comes first, since selecting a row may fill the fields.
    void type(const QString& ip, const QString& mask, const QString& gateway, const QString& port) {
        form_->Edit1->setText(ip);
        form_->Edit2->setText(mask);
        form_->Edit3->setText(gateway);
        form_->Edit4->setText(port);
    }
    void typeDeviceSettings(const QString& port = QLatin1String(kPort)) {
        type(QLatin1String(kIp), QLatin1String(kMask), QLatin1String(kGateway), port);
        form_->ComboBox1->setCurrentIndex(kBaudIndex);
    }

    // The devices a real search finds, listed as the list shows them.
    void listDevicesFound() {
        std::vector<uint8_t> table(kDeviceTableSize);
        QVERIFY(DiscoverDevices(table.data(), table.size(), kSearchWaitSeconds) > 0);
        DeviceRowTexts texts;
        for (unsigned i = 0; DeviceRowTextsAt(table.data(), table.size(), i, &texts); ++i) {
            QStringList columns{QString::fromStdString(texts.caption)};
            for (const std::string& subItem : texts.subItems) {
                columns << QString::fromStdString(subItem);
            }
            addRow(columns);
        }
    }

    void click(bool broadcast) { QTest::mouseClick(button(broadcast), Qt::LeftButton); }

    // The one box the click showed.
    QString onlyBox() {
        if (boxes_->boxes().size() != 1) {
            return QStringLiteral("%1 boxes").arg(boxes_->boxes().size());
        }
        return Describe(boxes_->boxes().front());
    }

    // Nothing reached the device since the test began: a marker sent now is
    // the first datagram it records.
    void verifyNothingSent() {
        SendMarker(kMac, kIp);
        QCOMPARE(heard(),
                 QStringList{Heard(std::string(kSetupHexUpToPort) + kMarkerTail.toStdString())});
    }

    void verifyButtonsEnabled() {
        QVERIFY(form_->Button2->isEnabled());
        QVERIFY(form_->Button3->isEnabled());
    }

private slots:
    void initTestCase() {
        // The expected bytes below spell these ranges out.
        QCOMPARE(QString::fromStdString(DeviceNetPrefix(0)), QStringLiteral("10.231.101."));
        QCOMPARE(QString::fromStdString(DeviceNetPrefix(1)), QStringLiteral("10.231.102."));
    }

    void init() {
        dir_ = std::make_unique<TempDir>();
        sim_ = std::make_unique<SimProcess>(std::vector<std::string>{
            "--record", dir_->File("heard"), "--device", kDevice, "--device", kSilentDevice});
        QVERIFY2(sim_->ready(), sim_->failure().c_str());

        form_ = std::make_unique<TForm1>();
        exchanges_.clear();
        form_->SetupExchange = [this](const SetupRequest& request) {
            exchanges_.push_back(
                {request, form_->Button2->isEnabled(), form_->Button3->isEnabled()});
            SetupRequest quicker = request;
            quicker.ReplyWaitSeconds = kTestReplyWaitSeconds;
            return SendSetupRequest(quicker);
        };
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        boxes_ = std::make_unique<MessageBoxRecorder>();
    }

    void cleanup() {
        boxes_.reset();
        form_.reset();
        sim_.reset();
        dir_.reset();
    }

    // --- Checks before anything is sent ----------------------------------------

    void checksComeInAFixedOrder_data() {
        QTest::addColumn<bool>("broadcast");
        QTest::addColumn<QStringList>("fields");  // IP, Submask, Gateway, Port
        QTest::addColumn<bool>("rowSelected");
        QTest::addColumn<QString>("message");

        struct Case {
            const char* name;
            QStringList fields;
            bool rowSelected;
            const char* message;
        };
        const QString ip = QLatin1String(kIp);
        const QString mask = QLatin1String(kMask);
        const QString gateway = QLatin1String(kGateway);
        const Case cases[] = {
            {"all empty, no row", {"", "", "", ""}, false, "IP is empty !!!"},
            {"all empty, row", {"", "", "", ""}, true, "IP is empty !!!"},
            {"only IP", {ip, "", "", ""}, false, "Submask is empty !!!"},
            {"IP and port", {ip, "", "", kPort}, true, "Submask is empty !!!"},
            {"no gateway", {ip, mask, "", kPort}, true, "Gateway is empty !!!"},
            {"no port", {ip, mask, gateway, ""}, true, "Port is empty !!!"},
            {"no row", {ip, mask, gateway, kPort}, false, "not select !!!"},
            {"no row, port no number", {ip, mask, gateway, "abc"}, false, "not select !!!"},
            {"blanks are not empty", {" ", " ", " ", " "}, false, "not select !!!"},
        };
        for (const bool broadcast : {true, false}) {
            for (const Case& c : cases) {
                QTest::addRow("%s: %s", broadcast ? "Broadcast" : "Connect", c.name)
                    << broadcast << c.fields << c.rowSelected << QString::fromUtf8(c.message);
            }
        }
    }
    void checksComeInAFixedOrder() {
        QFETCH(bool, broadcast);
        QFETCH(QStringList, fields);
        QFETCH(bool, rowSelected);
        QFETCH(QString, message);

        QTreeWidgetItem* row = addDeviceRow();
        if (rowSelected) {
            select(row);
        }
        type(fields[0], fields[1], fields[2], fields[3]);
        form_->ComboBox1->setCurrentIndex(kBaudIndex);
        click(broadcast);

        QCOMPARE(onlyBox(), Describe(message.toUtf8().constData(), QStringLiteral("Error"), 16));
        QVERIFY(exchanges_.empty());
        verifyButtonsEnabled();
        // The fields keep what was typed.
        QCOMPARE(form_->Edit4->text(), fields[3]);
        verifyNothingSent();
    }

    void portThatIsNoNumberShowsTheStandardErrorBox_data() {
        QTest::addColumn<bool>("broadcast");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("message");
        for (const bool broadcast : {true, false}) {
            const char* way = broadcast ? "Broadcast" : "Connect";
            QTest::addRow("%s: letters", way) << broadcast << "abc"
                                              << "'abc' is not a valid integer value.";
            QTest::addRow("%s: trailing blank", way) << broadcast << "502 "
                                                     << "'502 ' is not a valid integer value.";
        }
    }
    void portThatIsNoNumberShowsTheStandardErrorBox() {
        QFETCH(bool, broadcast);
        QFETCH(QString, port);
        QFETCH(QString, message);

        select(addDeviceRow());
        typeDeviceSettings(port);
        click(broadcast);

        // Under the application's title, which the program's file name gives.
        QCOMPARE(onlyBox(),
                 Describe(message.toUtf8().constData(), QStringLiteral("velquint_ui_tests"), 16));
        QVERIFY(exchanges_.empty());
        verifyButtonsEnabled();
        verifyNothingSent();

        // And the button works again.
        boxes_->clear();
        form_->Edit4->setText(QLatin1String(kPort));
        click(broadcast);
        QCOMPARE(onlyBox(), Describe("Success", QStringLiteral("OK"), 0));
    }

    // --- What goes on the wire --------------------------------------------------

    void broadcastSendsTheExactBytes_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("chosenRate");  // item index, -1 for none
        QTest::addColumn<QString>("shownRate");
        QTest::addColumn<QString>("tail");  // port high, port low, baud code

        const QString mac = QLatin1String(kMac);
        QTest::newRow("502 at 115200") << mac << "502" << 7 << "115200"
                                       << "01F607";
        QTest::newRow("70000 keeps its low 16 bits") << mac << "70000" << 0 << "300"
                                                     << "117000";
        QTest::newRow("-1 is FF FF") << mac << "-1" << 3 << "9600"
                                     << "FFFF03";
        QTest::newRow("hexadecimal after a blank") << mac << " $1F6" << 3 << "9600"
                                                   << "01F603";
        QTest::newRow("no rate chosen") << mac << "502" << -1 << ""
                                        << "01F6FF";
        // The field shows what the device gets, also when typed over a choice.
        QTest::newRow("rate typed over a choice") << mac << "502" << 7 << "9600"
                                                  << "01F603";
        QTest::newRow("no rate typed over a choice") << mac << "502" << 7 << ""
                                                     << "01F6FF";
        QTest::newRow("typed text that is no rate") << mac << "502" << 7 << "9601"
                                                    << "01F6FF";
        // Only the first six pairs of the caption name the device.
        QTest::newRow("longer caption") << "00.1A.2B.3C.4D.5E.6F.70"
                                        << "502" << 7 << "115200"
                                        << "01F607";
    }
    void broadcastSendsTheExactBytes() {
        QFETCH(QString, caption);
        QFETCH(QString, port);
        QFETCH(int, chosenRate);
        QFETCH(QString, shownRate);
        QFETCH(QString, tail);

        select(addRow({caption, QLatin1String(kIp)}));
        typeDeviceSettings(port);
        form_->ComboBox1->setCurrentIndex(chosenRate);
        form_->ComboBox1->setEditText(shownRate);
        click(true);

        QCOMPARE(onlyBox(), Describe("Success", QStringLiteral("OK"), 0));
        QCOMPARE(heard(), QStringList{Heard(kSetupHexUpToPort + tail.toStdString())});
    }

    void connectSetupGoesToTheRowsAddressWhateverTheIpField() {
        SimProcess neighbour({"--record", dir_->File("neighbour"), "--device", kNeighbourDevice},
                             1);
        QVERIFY2(neighbour.ready(), neighbour.failure().c_str());

        // The new address is the neighbour's: a setup sent there would reach
        // the neighbour and not the device.
        select(addDeviceRow());
        typeDeviceSettings(QStringLiteral("502"));
        form_->Edit1->setText(QLatin1String(kNeighbourIp));
        click(false);
        QCOMPARE(onlyBox(), Describe("Success", QStringLiteral("OK"), 0));
        QCOMPARE(heard().size(), 1);

        // The neighbour's first datagram is this marker.
        SendMarker("00.1A.2B.3C.4D.70", kNeighbourIp);
        const QStringList neighbourHeard = heard("neighbour");
        QCOMPARE(neighbourHeard.size(), 1);
        QVERIFY(neighbourHeard.front().endsWith(kMarkerTail));

        // A broadcast setup reaches both and does not need the row's address.
        boxes_->clear();
        form_->ListView1->currentItem()->setText(1, QString());
        click(true);
        QCOMPARE(onlyBox(), Describe("Success", QStringLiteral("OK"), 0));
        QTRY_COMPARE(heard("neighbour").size(), 2);
    }

    void theClickedButtonIsDisabledWhileTheDeviceAnswers_data() {
        QTest::addColumn<bool>("broadcast");
        QTest::newRow("Broadcast Setup") << true;
        QTest::newRow("Connect Setup") << false;
    }
    void theClickedButtonIsDisabledWhileTheDeviceAnswers() {
        QFETCH(bool, broadcast);

        select(addDeviceRow());
        typeDeviceSettings(QStringLiteral("502"));
        click(broadcast);
        QCOMPARE(onlyBox(), Describe("Success", QStringLiteral("OK"), 0));

        QCOMPARE(exchanges_.size(), size_t{1});
        const Exchange& exchange = exchanges_.front();
        QCOMPARE(exchange.button2Enabled, !broadcast);
        QCOMPARE(exchange.button3Enabled, broadcast);
        verifyButtonsEnabled();

        // What the exchange was asked for beyond the datagram's bytes.
        QCOMPARE(exchange.request.Broadcast, static_cast<uint8_t>(broadcast ? 1 : 0));
        QCOMPARE(exchange.request.ReplyWaitSeconds, 5);
        QCOMPARE(exchange.request.Command, uint8_t{2});
        QCOMPARE(QString::fromLatin1(exchange.request.CurrentIp), QLatin1String(kIp));
    }

    // --- The outcome ------------------------------------------------------------

    void afterSuccessTheListShowsTheOldAddressUntilTheNextSearch() {
        listDevicesFound();
        QTreeWidget* list = form_->ListView1;
        QCOMPARE(list->topLevelItemCount(), 2);
        QTreeWidgetItem* row = list->findItems(QLatin1String(kMac), Qt::MatchExactly).value(0);
        QVERIFY(row != nullptr);
        QCOMPARE(row->text(1), QLatin1String(kIp));
        select(row);
        QStringList shown;
        for (int column = 0; column < list->columnCount(); ++column) {
            shown << row->text(column);
        }

        type(QStringLiteral("10.231.101.9"), QStringLiteral("255.255.0.0"),
             QStringLiteral("10.231.0.1"), QStringLiteral("4002"));
        form_->ComboBox1->setCurrentIndex(5);
        click(false);
        QCOMPARE(onlyBox(), Describe("Success", QStringLiteral("OK"), 0));

        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(list->selectedItems().size(), 1);
        QVERIFY(list->selectedItems().front() == row);
        for (int column = 0; column < list->columnCount(); ++column) {
            QCOMPARE(row->text(column), shown[column]);
        }
        QCOMPARE(form_->Edit1->text(), QStringLiteral("10.231.101.9"));

        // A new search finds the device with its new settings.
        list->clear();
        listDevicesFound();
        row = list->findItems(QLatin1String(kMac), Qt::MatchExactly).value(0);
        QVERIFY(row != nullptr);
        QCOMPARE(row->text(1), QStringLiteral("10.231.101.9"));
        QCOMPARE(row->text(2), QStringLiteral("255.255.0.0"));
        QCOMPARE(row->text(3), QStringLiteral("10.231.0.1"));
        QCOMPARE(row->text(4), QStringLiteral("4002"));
        QCOMPARE(row->text(5), QStringLiteral("38400"));
    }

    void failuresShowNotResponse_data() {
        QTest::addColumn<bool>("broadcast");
        QTest::addColumn<QString>("mac");
        QTest::addColumn<QString>("rowIp");
        QTest::addColumn<QStringList>("fields");  // IP, Submask, Gateway
        QTest::addColumn<bool>("holdPort");
        QTest::addColumn<bool>("exchanged");  // the window asked for the exchange
        QTest::addColumn<bool>("sent");       // a datagram reached the device

        const QString mac = QLatin1String(kMac);
        const QString ip = QLatin1String(kIp);
        const QStringList settings{ip, QLatin1String(kMask), QLatin1String(kGateway)};
        const QString twentyCharacters = QStringLiteral("10.231.101.5.1234567");
        QCOMPARE(twentyCharacters.size(), 20);
        QStringList longIp = settings;
        longIp[0] = twentyCharacters;
        QStringList longGateway = settings;
        longGateway[2] = twentyCharacters;
        QStringList allOnesMask = settings;
        allOnesMask[1] = QStringLiteral("255.255.255.255");
        QStringList noAddress = settings;
        noAddress[0] = QStringLiteral("ten.0.0.1");

        for (const bool broadcast : {true, false}) {
            const char* way = broadcast ? "Broadcast" : "Connect";
            QTest::addRow("%s: the device does not confirm", way)
                << broadcast << QString::fromLatin1(kSilentMac) << QString::fromLatin1(kSilentIp)
                << settings << false << true << true;
            QTest::addRow("%s: IP over 19 characters", way)
                << broadcast << mac << ip << longIp << false << false << false;
            QTest::addRow("%s: gateway over 19 characters", way)
                << broadcast << mac << ip << longGateway << false << false << false;
            QTest::addRow("%s: mask of all ones", way)
                << broadcast << mac << ip << allOnesMask << false << true << false;
            QTest::addRow("%s: IP that is no address", way)
                << broadcast << mac << ip << noAddress << false << true << false;
            QTest::addRow("%s: port 3195 held by another socket", way)
                << broadcast << mac << ip << settings << true << true << false;
        }
        // The present address matters only to a direct setup.
        QTest::newRow("Connect: row address over 19 characters")
            << false << mac << twentyCharacters << settings << false << false << false;
    }
    void failuresShowNotResponse() {
        QFETCH(bool, broadcast);
        QFETCH(QString, mac);
        QFETCH(QString, rowIp);
        QFETCH(QStringList, fields);
        QFETCH(bool, holdPort);
        QFETCH(bool, exchanged);
        QFETCH(bool, sent);

        select(addRow({mac, rowIp}));
        typeDeviceSettings(QStringLiteral("502"));
        type(fields[0], fields[1], fields[2], QStringLiteral("502"));
        {
            std::unique_ptr<PortHolder> holder;
            if (holdPort) {
                holder = std::make_unique<PortHolder>();
                QVERIFY(holder->bound());
            }
            click(broadcast);
        }

        QCOMPARE(onlyBox(), Describe("Not response !!!", QStringLiteral("Fail"), 16));
        QCOMPARE(exchanges_.size(), size_t{exchanged ? 1u : 0u});
        verifyButtonsEnabled();
        if (sent) {
            QTRY_COMPARE(heard().size(), 1);
            QVERIFY(heard().front().contains(QStringLiteral("001A2B3C4D60")));
        } else {
            verifyNothingSent();
        }
    }
};

QTEST_MAIN(SetupButtonsTest)

#include "setup_buttons_lab_test.moc"
