#include "app/SetupCommand.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTreeWidget>

#include <algorithm>
#include <string>
#include <vector>

#include "app/MessageBox.h"
#include "app/ScopedDisable.h"
#include "app/Unit1.h"
#include "common/StrToInt.h"
#include "discovery/DeviceListRows.h"
#include "setup/HexPairs.h"
#include "setup/SendSetupRequest.h"
#include "setup/SetupRequest.h"

namespace {

const char* const kSuccessText = "Success";
const char* const kSuccessTitle = "OK";
const char* const kFailedText = "Not response !!!";
const char* const kFailedTitle = "Fail";

// The list's caption column; sub-item k is the column after it.
constexpr int kCaptionColumn = 0;
constexpr int kFirstSubItemColumn = 1;

// Characters per pair of a MAC text: two digits and a separator.
constexpr size_t kGroupWidth = 3;

// The first check that fails, in the order the operator is told about them;
// null when the fields are filled and a row is selected. "Empty" is no
// character at all: blanks pass.
const char* FirstMissingInput(const TForm1& form, const QTreeWidgetItem* row) {
    struct Required {
        const QLineEdit* field;
        const char* message;
    };
    const Required required[] = {{form.Edit1, "IP is empty !!!"},
                                 {form.Edit2, "Submask is empty !!!"},
                                 {form.Edit3, "Gateway is empty !!!"},
                                 {form.Edit4, "Port is empty !!!"}};
    for (const Required& r : required) {
        if (r.field->text().isEmpty()) {
            return r.message;
        }
    }
    if (row == nullptr) {
        return "not select !!!";
    }
    return nullptr;
}

const QTreeWidgetItem* SelectedRow(const QTreeWidget& list) {
    const QList<QTreeWidgetItem*> selected = list.selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

// The MAC of a row's caption. The buffer is sized from the text rather than
// fixed at six bytes and a terminator, so that a caption longer than a MAC
// text cannot write past it; only the first six bytes are used.
void ParseRowMac(const std::string& caption, uint8_t (&mac)[kSetupMacLength]) {
    std::vector<uint8_t> bytes(
        std::max((caption.size() + 1) / kGroupWidth + 1, size_t{kSetupMacLength + 1}), 0);
    ParseHexPairs(caption.c_str(), bytes.data());
    std::copy(bytes.begin(), bytes.begin() + kSetupMacLength, mac);
}

std::string FieldText(const QLineEdit* field) {
    return field->text().toStdString();
}

}  // namespace

uint8_t SetupBaudCode(const QComboBox& comboBox) {
    const QString shown = comboBox.currentText();
    int index = comboBox.currentIndex();
    // Typing into the field does not move the chosen item, so the item may
    // no longer be what the operator sees; the device gets what is shown.
    if (index < 0 || comboBox.itemText(index) != shown) {
        index = comboBox.findText(shown, Qt::MatchExactly | Qt::MatchCaseSensitive);
    }
    // The conversion keeps the low 8 bits: -1 (nothing shown) becomes 0xFF.
    return static_cast<uint8_t>(index);
}

void RunSetup(TForm1& form, bool broadcast) {
    const QTreeWidgetItem* row = SelectedRow(*form.ListView1);
    if (const char* missing = FirstMissingInput(form, row)) {
        ShowErrorBox(missing);
        return;
    }

    SetupRequest request;
    ParseRowMac(row->text(kCaptionColumn).toStdString(), request.Mac);
    request.Broadcast = broadcast ? 1 : 0;
    // An address text that does not fit its field is refused rather than
    // cut: a cut address would configure the device with one the operator
    // never typed. The refusal is reported like every other refusal of an
    // address, after the port has been read.
    bool addressesFit = CopyAddressText(request.CurrentIp,
                                        row->text(kFirstSubItemColumn + kSubItemIp).toStdString());
    // A broadcast does not go to the present address.
    addressesFit = addressesFit || broadcast;
    // Only the low 16 bits are sent: 70000 becomes 4464, -1 becomes 65535.
    request.Port = static_cast<uint16_t>(StrToInt(FieldText(form.Edit4)));
    request.BaudCode = SetupBaudCode(*form.ComboBox1);
    request.ReplyWaitSeconds = kSetupReplyWaitSeconds;
    addressesFit = CopyAddressText(request.NewIp, FieldText(form.Edit1)) && addressesFit;
    addressesFit = CopyAddressText(request.NewMask, FieldText(form.Edit2)) && addressesFit;
    addressesFit = CopyAddressText(request.NewGateway, FieldText(form.Edit3)) && addressesFit;
    request.Command = kSetupCommand;

    const bool confirmed = addressesFit && form.SetupExchange(request) == kSetupSuccess;
    if (confirmed) {
        ShowMessageBox(QLatin1String(kSuccessText), QLatin1String(kSuccessTitle),
                       MessageBoxStyle::Ok);
    } else {
        ShowMessageBox(QLatin1String(kFailedText), QLatin1String(kFailedTitle),
                       MessageBoxStyle::IconError);
    }
}

void SetupButtonClick(TForm1& form, QPushButton* clicked, bool broadcast) {
    const ScopedDisable busy(clicked);
    RunSetup(form, broadcast);
}
