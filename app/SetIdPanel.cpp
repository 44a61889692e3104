#include "app/SetIdPanel.h"

#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTimer>

#include "app/AutoSizeLabel.h"
#include "app/MessageBox.h"
#include "app/ScopedDisable.h"
#include "app/Unit1.h"
#include "channel/COM_Class.h"
#include "common/ScopeExit.h"
#include "common/StrToInt.h"
#include "idassign/DeviceId.h"

uint8_t StatusCountdown = 0;

namespace {

const char* const kIpEmpty = "IP is empty !!!";
const char* const kPortEmpty = "Port is empty !!!";
const char* const kIdTooLarge = "ID > 255 !!!";
const char* const kCannotConnect = "Can not connected !!!";
const char* const kStatusOk = "OK";
const char* const kStatusError = "Error !!!";

constexpr uint8_t kStatusTicks = 30;
constexpr uint32_t kPortMask = 0xFFFF;
constexpr uint32_t kIdMask = 0xFF;

int32_t FieldInteger(const QLineEdit* field) {
    return StrToInt(field->text().toStdString());
}

}  // namespace

void SetDeviceId(TForm1& form) {
    if (form.Edit1->text().isEmpty()) {
        ShowErrorBox(kIpEmpty);
        return;
    }
    if (form.Edit4->text().isEmpty()) {
        ShowErrorBox(kPortEmpty);
        return;
    }
    // No lower bound: a negative ID goes out as its low byte.
    if (FieldInteger(form.Edit5) > kLargestDeviceId) {
        ShowErrorBox(kIdTooLarge);
        return;
    }

    COM_Class& channel = form.Channel;
    channel.Kind = TransportKind::Tcp;
    const bool addressFits = CopyAddressText(channel.HostAddress, form.Edit1->text().toStdString());
    channel.HostPort =
        static_cast<uint16_t>(static_cast<uint32_t>(FieldInteger(form.Edit4)) & kPortMask);
    form.ChannelWait.Resume();
    // The connect blocks the window for up to its limit; events run only
    // once the request is on its way.
    if (addressFits) {
        channel.Open(kDeviceIdConnectLimitMs);
    }
    if (!channel.SocketOpen) {
        ShowErrorBox(kCannotConnect);
        return;
    }

    const ScopedDisable busy(form.Button4);
    const ScopeExit closeChannel([&channel] { channel.Close(); });
    const uint8_t id =
        static_cast<uint8_t>(static_cast<uint32_t>(FieldInteger(form.Edit5)) & kIdMask);
    if (TransactDeviceId(channel, id) >= 0) {
        form.Label6->setCaption(QString::fromLatin1(kStatusOk));
        form.Label6->setColour(kColourGreen);
    } else {
        form.Label6->setCaption(QString::fromLatin1(kStatusError));
        form.Label6->setColour(kColourRed);
    }
    channel.Close();
    // Switched on, not restarted: a timer that runs keeps its pace.
    if (!form.Timer1->isActive()) {
        form.Timer1->start();
    }
    StatusCountdown = kStatusTicks;
}

void CountStatusDown(TForm1& form) {
    if (StatusCountdown == 0) {
        return;
    }
    --StatusCountdown;
    if (StatusCountdown == 0) {
        form.Label6->setCaption(QString());
        form.Label6->setColour(ButtonFaceColour());
        form.Timer1->stop();
    }
}
