#pragma once

#include <QRect>
#include <QWidget>

#include <array>
#include <functional>

#include "app/AutoSizeLabel.h"
#include "app/WindowChannelEvents.h"
#include "channel/COM_Class.h"
#include "discovery/SortDeviceTable.h"
#include "setup/SetupRequest.h"

class QCloseEvent;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QResizeEvent;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

// The tool's one window. Its controls are public so that the handler logic of
// each subsystem (and the tests) reach them by the names the operator's
// manual uses; each control's objectName is the same name.
class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* owner = nullptr);

    QTreeWidget* ListView1;
    QPushButton* Button1;
    QGroupBox* GroupBox1;
    AutoSizeLabel* Label1;
    AutoSizeLabel* Label2;
    AutoSizeLabel* Label3;
    AutoSizeLabel* Label4;
    AutoSizeLabel* Label5;
    QLineEdit* Edit1;
    QLineEdit* Edit3;
    QLineEdit* Edit4;
    QComboBox* ComboBox1;
    QLineEdit* Edit2;
    QPushButton* Button2;
    QPushButton* Button3;
    QGroupBox* GroupBox2;
    AutoSizeLabel* Label7;
    QLineEdit* Edit5;
    QPushButton* Button4;
    AutoSizeLabel* Label6;
    QTimer* Timer1;

    // The order the device list is shown in; header clicks change it.
    uint8_t SortOrder = kInitialSortOrder;
    // The channel Set ID talks to a device through, for the whole run.
    COM_Class Channel;

    // The handlers. Each is a short method that runs its subsystem's logic
    // inside RunGuarded, so no error escapes into Qt's event loop.
    // Search and the device list (DeviceListView).
    void Button1Click();
    void ShowDeviceList();
    void ListView1SelectItem(QTreeWidgetItem* item, bool selected);
    void ListView1ColumnClick(int column);
    // "Broadcast Setup" and "Connect Setup" (SetupCommand).
    void Button2Click();
    void Button3Click();
    // Set ID and its status countdown (SetIdPanel).
    void Button4Click();
    void Timer1Timer();

    // The exchange with the device that both setup buttons run, normally
    // SendSetupRequest. It holds the window's thread until it ends, so tests
    // wrap it to see the window as it is meanwhile.
    std::function<int(const SetupRequest&)> SetupExchange;
    // Keeps the window live while Channel waits for a device.
    WindowChannelEvents ChannelWait{Channel};

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Ends a Set ID's wait, so that closing the window ends the program.
    void closeEvent(QCloseEvent* event) override;

private:
    // A control that follows the bottom edge and keeps its centre at the same
    // fraction of the client width.
    struct BottomAnchored {
        QWidget* control;
        QRect design;
    };

    void BuildListView();
    void BuildNewGroup();
    void BuildZekGroup();
    void SetTabOrder();
    void PlaceControls(int clientWidth, int clientHeight);
    void WireSearchAndList();
    void WireSetup();
    void WireSetId();

    std::array<BottomAnchored, 5> bottomAnchored_{};
};
