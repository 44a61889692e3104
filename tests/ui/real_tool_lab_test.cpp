// The real tool on a private X server inside the lab, seen as the operator
// sees it, through what the X server holds: while Search or a setup blocks
// the window, the clicked button is drawn disabled; "Can't find any Device
// !!!" comes in a box whose title is empty, and the standard error box keeps
// the program's name as its title.
#include <QApplication>
#include <QFile>
#include <QRect>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/LabSupport.h"
#include "tests/support/XSession.h"

namespace {

// Generous bounds that only catch a hang.
constexpr int kHangLimitMs = 30000;

// Controls at the design size, relative to the window.
const QRect kButton1(10, 414, 580, 36);
const QRect kButton2(5, 550, 180, 36);
const QRect kEdit5(615 + 62, 423 + 29, 67, 28);
const QRect kButton4(615 + 29, 423 + 70, 124, 35);

// The darkest grey (0 to 255) of a button's pixels: black text when enabled,
// light grey text when disabled (190 in the tool's style).
constexpr int kMostOfBlack = 64;
constexpr int kLeastOfDisabledText = 128;

// The setup datagram opens with these bytes (identifier and command code 2).
const char* const kSetupHexStart = "4B564D34374A5302";

}  // namespace

class RealToolLabTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<XvfbServer> server_;
    std::unique_ptr<XClient> x_;
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<ChildProcess> tool_;
    unsigned long window_ = 0;
    WindowGeometry at_;

    QByteArray toolErrors() {
        QFile log(QString::fromStdString(dir_->File("stderr")));
        return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    }

    bool clickOn(const QRect& control) {
        const QPoint centre = control.center();
        return x_->ClickAt(at_.x + centre.x(), at_.y + centre.y());
    }

    // The darkest grey of a control on screen: the text of an enabled
    // button is black, that of a disabled one light grey.
    int darkestGrey(const QRect& control) {
        const std::vector<uint32_t> pixels =
            x_->Pixels(window_, {control.x(), control.y(), control.width(), control.height()});
        int darkest = 255;
        for (const uint32_t rgb : pixels) {
            darkest =
                std::min<int>(darkest, ((rgb >> 16 & 0xFF) + (rgb >> 8 & 0xFF) + (rgb & 0xFF)) / 3);
        }
        return pixels.empty() ? -1 : darkest;
    }

    // While the tool blocks, `button` is on screen as a disabled one, where
    // it was black-lettered (`enabledDarkest`) before the click.
    void verifyDrawnDisabled(const QRect& button, int enabledDarkest) {
        QVERIFY2(
            enabledDarkest >= 0 && enabledDarkest <= kMostOfBlack,
            qPrintable(QStringLiteral("darkest grey %1 before the click").arg(enabledDarkest)));
        const int darkest = darkestGrey(button);
        QVERIFY2(darkest >= kLeastOfDisabledText,
                 qPrintable(QStringLiteral("darkest grey %1 while the tool waits").arg(darkest)));
    }

    QString property(unsigned long window, const char* name) {
        const std::optional<std::string> value = x_->TextProperty(window, name);
        return value ? QString::fromStdString(*value) : QStringLiteral("(no %1)").arg(name);
    }

    unsigned long waitForBox() {
        return x_->WaitForMappedWindow([this](unsigned long window) { return window != window_; },
                                       kHangLimitMs);
    }

    QStringList heard() {
        QStringList lines;
        for (const std::string& line : ReadLines(dir_->File("heard"))) {
            lines << QString::fromStdString(line);
        }
        return lines;
    }

private slots:
    void init() {
        const std::string tool = qEnvironmentVariable("VELQUINT_TOOL").toStdString();
        QVERIFY2(!tool.empty(), "VELQUINT_TOOL must name the tool binary");
        server_ = std::make_unique<XvfbServer>();
        std::string error;
        QVERIFY2(server_->Start(error), error.c_str());
        x_ = std::make_unique<XClient>();
        QVERIFY(x_->Open(server_->DisplayName()));
        dir_ = std::make_unique<TempDir>();

        ChildOptions options;
        options.program = tool;
        options.argv = {"velquint-tool"};
        options.set = {"DISPLAY=" + server_->DisplayName(), "QT_QPA_PLATFORM=xcb",
                       "XDG_RUNTIME_DIR=" + dir_->File(""), "HOME=" + dir_->File("")};
        options.stdoutPath = "/dev/null";
        options.stderrPath = dir_->File("stderr");
        options.name = "velquint-tool";
        tool_ = std::make_unique<ChildProcess>(options);
        QVERIFY2(tool_->started(), tool_->failure().c_str());
        window_ = x_->WaitForMappedWindow(kToolCaption, kHangLimitMs);
        QVERIFY2(window_ != 0, toolErrors().constData());
        at_ = x_->Geometry(window_);
    }
    void cleanup() {
        tool_.reset();
        x_.reset();
        server_.reset();
        dir_.reset();
    }

    void searchGreysItsButtonAndFindingNothingShowsAnUntitledBox() {
        // Hears the request and keeps quiet.
        SimProcess sim({"--record", dir_->File("heard"), "--device", "silent=1"});
        QVERIFY2(sim.ready(), sim.failure().c_str());
        const int enabled = darkestGrey(kButton1);

        RequireLabNamespace();
        QVERIFY(clickOn(kButton1));
        // The request is out: the tool waits for answers.
        QTRY_COMPARE(heard().size(), 1);
        verifyDrawnDisabled(kButton1, enabled);
        if (QTest::currentTestFailed()) {
            return;
        }

        const unsigned long box = waitForBox();
        QVERIFY2(box != 0, toolErrors().constData());
        QCOMPARE(property(box, "_NET_WM_NAME"), QString());
        QCOMPARE(property(box, "WM_NAME"), QString());
    }

    void setupGreysItsButtonAndTheErrorBoxKeepsItsTitle() {
        SimProcess sim({"--record", dir_->File("heard"), "--device",
                        "mac=00.1A.2B.3C.4D.5E,ip=" + FirstDeviceIp() + ",setup-reply=none"});
        QVERIFY2(sim.ready(), sim.failure().c_str());
        const int enabled = darkestGrey(kButton2);

        // The second click waits in the X queue until the search has listed
        // and selected the device.
        RequireLabNamespace();
        QVERIFY(clickOn(kButton1));
        QVERIFY(clickOn(kButton2));
        QTRY_COMPARE_WITH_TIMEOUT(heard().size(), 2, kHangLimitMs);
        QVERIFY2(heard().back().contains(QLatin1String(kSetupHexStart)),
                 qPrintable(heard().back()));
        verifyDrawnDisabled(kButton2, enabled);
        if (QTest::currentTestFailed()) {
            return;
        }

        // "Not response !!!" once the five seconds have passed.
        unsigned long box = waitForBox();
        QVERIFY2(box != 0, toolErrors().constData());
        QVERIFY(x_->RequestClose(box));
        QTRY_COMPARE(x_->ViewableTopLevels(), 1);

        // An ID that is no number ends Set ID in the standard error box.
        QVERIFY(clickOn(kEdit5));
        QVERIFY(x_->TypeText("a"));
        QVERIFY(clickOn(kButton4));
        box = waitForBox();
        QVERIFY2(box != 0, toolErrors().constData());
        QCOMPARE(property(box, "_NET_WM_NAME"), QStringLiteral("velquint-tool"));
        QCOMPARE(property(box, "WM_NAME"), QStringLiteral("velquint-tool"));
    }
};

QTEST_MAIN(RealToolLabTest)

#include "real_tool_lab_test.moc"
