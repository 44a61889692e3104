// How long the tool itself takes for a setup: the time from a click on
// "Broadcast Setup" or "Connect Setup" until "Success" is shown, less the
// reply delay of the simulated device. Runs inside a lab namespace (see
// bench/setup_click.sh), on the real window, offscreen.
//
//   velquint_bench_setup_click [clicks per button] [device reply delay, ms]
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/MessageBox.h"
#include "app/Unit1.h"
#include "tests/support/LabSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultClicks = 200;
constexpr int kDefaultDeviceDelayMs = 50;
constexpr int kWarmUpClicks = 5;
constexpr double kTargetMs = 20.0;
constexpr int kBaudIndex = 7;

struct Figures {
    double median;
    double p90;
    double max;
};

Figures Summarise(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const auto at = [&samples](double fraction) {
        return samples[static_cast<size_t>(fraction * static_cast<double>(samples.size() - 1))];
    };
    return {at(0.5), at(0.9), samples.back()};
}

// One click; its time in ms, or a negative value when it did not end in
// "Success".
double TimeOneClick(QPushButton* button, MessageBoxRecorder& boxes) {
    boxes.clear();
    const auto start = Clock::now();
    QTest::mouseClick(button, Qt::LeftButton);
    const auto end = Clock::now();
    if (boxes.boxes().size() != 1 || boxes.boxes().front().text != QStringLiteral("Success")) {
        return -1;
    }
    return std::chrono::duration<double, std::milli>(end - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int clicks = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultClicks;
    const int delayMs = argc > 2 ? std::max(0, std::atoi(argv[2])) : kDefaultDeviceDelayMs;

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    RequireLabNamespace();

    const std::string ip = DeviceNetPrefix() + "5";
    SimProcess sim({"--device", "mac=00.1A.2B.3C.4D.5E,ip=" + ip +
                                    ",mask=255.255.0.0,gateway=10.231.0.1,port=502,baud=7,"
                                    "setup-delay=" +
                                    std::to_string(delayMs)});
    if (!sim.ready()) {
        std::fprintf(stderr, "velquint-sim: %s\n", sim.failure().c_str());
        return 1;
    }

    TForm1 form;
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) {
        std::fprintf(stderr, "the window was not shown\n");
        return 1;
    }
    auto* row = new QTreeWidgetItem(
        form.ListView1, {QStringLiteral("00.1A.2B.3C.4D.5E"), QString::fromStdString(ip),
                         QStringLiteral("255.255.0.0"), QStringLiteral("10.231.0.1"),
                         QStringLiteral("502"), QStringLiteral("115200"), QStringLiteral("1.05")});
    form.ListView1->setCurrentItem(row);
    // The device keeps its settings, so every click finds it where it was.
    form.Edit1->setText(QString::fromStdString(ip));
    form.Edit2->setText(QStringLiteral("255.255.0.0"));
    form.Edit3->setText(QStringLiteral("10.231.0.1"));
    form.Edit4->setText(QStringLiteral("502"));
    form.ComboBox1->setCurrentIndex(kBaudIndex);

    MessageBoxRecorder boxes;
    std::printf("Click to \"Success\" beyond the device's %d ms reply delay, %d clicks each:\n",
                delayMs, clicks);
    bool met = true;
    for (QPushButton* button : {form.Button2, form.Button3}) {
        for (int i = 0; i < kWarmUpClicks; ++i) {
            TimeOneClick(button, boxes);
        }
        std::vector<double> beyondDelay;
        for (int i = 0; i < clicks; ++i) {
            const double ms = TimeOneClick(button, boxes);
            if (ms < 0) {
                std::fprintf(stderr, "a click on \"%s\" did not end in Success\n",
                             button->text().toUtf8().constData());
                return 1;
            }
            beyondDelay.push_back(ms - delayMs);
        }
        const Figures f = Summarise(beyondDelay);
        std::printf("  %-16s median %.2f ms, 90th percentile %.2f ms, max %.2f ms\n",
                    button->text().toUtf8().constData(), f.median, f.p90, f.max);
        met = met && f.median < kTargetMs;
    }
    std::printf("Target: median under %.0f ms: %s\n", kTargetMs, met ? "met" : "NOT met");
    return 0;
}
