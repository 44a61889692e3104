#pragma once

#include <cstdint>

class TForm1;

// Timer1 ticks left before Label6 is cleared; 0: nothing to clear. One for
// the program, beside the main window.
extern uint8_t StatusCountdown;

// "Set ID": checks the IP, Port and ID fields, connects to the device at that
// address and port, writes the ID with one transaction, and shows the outcome
// in Label6 for 30 ticks of Timer1. A Port or ID text that is not an integer
// raises EConvertError.
void SetDeviceId(TForm1& form);

// One tick of Timer1: counts the status down and clears Label6 at zero.
void CountStatusDown(TForm1& form);
