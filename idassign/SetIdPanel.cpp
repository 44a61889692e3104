#include "idassign/SetIdPanel.h"

#include <QByteArray>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTimer>

#include <cstring>

#include "app/AutoSizeLabel.h"
#include "app/MessageBox.h"
#include "app/ScopedDisable.h"
#include "app/StrToInt.h"
#include "app/Unit1.h"
#include "channel/COM_Class.h"

uint8_t StatusCountdown = 0;

namespace {

const char* const kErrorTitle = "Error";
const char* const kIpEmpty = "IP is empty !!!";
const char* const kPortEmpty = "Port is empty !!!";
const char* const kIdTooLarge = "ID > 255 !!!";
const char* const kCannotConnect = "Can not connected !!!";
const char* const kStatusOk = "OK";
const char* const kStatusError = "Error !!!";

constexpr int32_t kLargestId = 255;
constexpr uint32_t kConnectLimitMs = 5000;
constexpr uint32_t kReplyLimitMs = 3000;
constexpr uint32_t kDeviceAddress = 1;
constexpr uint8_t kSetIdFunction = 2;
constexpr uint8_t kSetIdCommand = 90;
constexpr uint32_t kIdLength = 1;
constexpr uint8_t kStatusTicks = 30;
constexpr uint32_t kPortMask = 0xFFFF;
constexpr uint32_t kIdMask = 0xFF;

void ShowError(const char* text) {
    ShowMessageBox(QString::fromLatin1(text), QString::fromLatin1(kErrorTitle),
                   MessageBoxStyle::IconError);
}

int32_t FieldInteger(const QLineEdit* field) {
    return StrToInt(field->text().toStdString());
}

// Copies `text` into HostAddress when it fits with its terminating zero. A
// longer text is refused rather than cut, since its first 19 characters may
// name another device; so is one with a zero character inside.
bool CopyHostAddress(const QString& text, COM_Class& channel) {
    const QByteArray bytes = text.toUtf8();
    const auto length = static_cast<std::size_t>(bytes.size());
    if (length >= kHostAddressSize || std::memchr(bytes.constData(), '\0', length) != nullptr) {
        channel.HostAddress[0] = '\0';
        return false;
    }
    std::memcpy(channel.HostAddress, bytes.constData(), length);
    channel.HostAddress[length] = '\0';
    return true;
}

// Lets go of the connection on every way out of the exchange.
class ClosedOnExit {
public:
    explicit ClosedOnExit(COM_Class& channel) : channel_(channel) {}
    ~ClosedOnExit() { channel_.Close(); }
    ClosedOnExit(const ClosedOnExit&) = delete;
    ClosedOnExit& operator=(const ClosedOnExit&) = delete;

private:
    COM_Class& channel_;
};

}  // namespace

void SetDeviceId(TForm1& form) {
    if (form.Edit1->text().isEmpty()) {
        ShowError(kIpEmpty);
        return;
    }
    if (form.Edit4->text().isEmpty()) {
        ShowError(kPortEmpty);
        return;
    }
    // No lower bound: a negative ID goes out as its low byte.
    if (FieldInteger(form.Edit5) > kLargestId) {
        ShowError(kIdTooLarge);
        return;
    }

    COM_Class& channel = form.Channel;
    channel.Kind = TransportKind::Tcp;
    const bool addressFits = CopyHostAddress(form.Edit1->text(), channel);
    channel.HostPort =
        static_cast<uint16_t>(static_cast<uint32_t>(FieldInteger(form.Edit4)) & kPortMask);
    form.ChannelWait.Resume();
    // The connect blocks the window for up to its limit; events run only
    // once the request is on its way.
    if (addressFits) {
        channel.Open(kConnectLimitMs);
    }
    if (!channel.SocketOpen) {
        ShowError(kCannotConnect);
        return;
    }

    const ScopedDisable busy(form.Button4);
    const ClosedOnExit closer(channel);
    const uint8_t id =
        static_cast<uint8_t>(static_cast<uint32_t>(FieldInteger(form.Edit5)) & kIdMask);
    int32_t detail = 0;
    const int result = channel.Transact(kDeviceAddress, kSetIdFunction, kSetIdCommand, kIdLength,
                                        &id, kReplyLimitMs, &detail);
    if (result >= 0) {
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
