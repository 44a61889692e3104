#pragma once

#include <cstdint>

class QComboBox;
class QPushButton;
class TForm1;

// One click of "Broadcast Setup" (`broadcast` true) or "Connect Setup":
// `clicked` stays disabled until the setup has ended, whichever way it ends,
// and the other setup button is left alone.
void SetupButtonClick(TForm1& form, QPushButton* clicked, bool broadcast);

// Gives the device of the selected row the settings of the "New" fields and
// tells the operator the outcome. The fields are checked in a fixed order and
// the first empty one (then a missing selection) is reported; nothing is sent
// then. A port text that is no integer raises EConvertError before anything is
// sent. Otherwise the request goes through `form.SetupExchange`, by broadcast
// or straight to the row's present address, and "Success" or "Not response
// !!!" is shown.
void RunSetup(TForm1& form, bool broadcast);

// The baud-rate code of what the baud-rate field shows: the index of the
// item with that text, low 8 bits, so 0xFF when it shows none of the rates.
uint8_t SetupBaudCode(const QComboBox& comboBox);
