#pragma once

#include <cstdint>

// Every result code of the device channel and its transactions. Operations
// return 0 (or a positive count) for success and one of these for failure.
// Some values are shared by two transports with a meaning of each; the
// channel's own callers tell only success from failure, and the command line
// says which meaning applied (ChannelResultText).

constexpr int kChannelOk = 0;  // success (Open, drain, send)

// Open, serial
constexpr int kSerialOpenFailed = -1;       // no such port, in use, or its name does not fit
constexpr int kSerialSettingsRefused = -2;  // the port refused the line settings
// HID send
constexpr int kHidSendFailed = -1;  // wrong kind, no device, write error or write time-out

// Open, TCP
constexpr int kTcpBadAddress = -3;      // HostAddress is not a dotted IPv4 address, or does not fit
constexpr int kTcpNoSocket = -4;        // no socket could be created
constexpr int kTcpNonBlocking = -5;     // switching the socket to non-blocking mode failed
constexpr int kTcpConnectTimeout = -6;  // no connection within the limit, or the wait failed
constexpr int kTcpConnectFailed = -7;   // the connection attempt failed (refused, unreachable)
constexpr int kTcpNotWritable = -8;     // the socket was not writable after the wait
// Receive, serial
constexpr int kSerialTooMuchWaiting = -6;  // more than a reply's worth waiting at once

// Open and Transact
constexpr int kChannelWrongKind = -9;  // Kind is not one that the operation handles

// Every receive loop, and the TCP send
constexpr int kReceiveTimeout = -10;  // no complete reply (or no whole send) within the limit

// The reply parser
constexpr int kReplyWrongAddress = -11;   // reply address differs from the request's target
constexpr int kReplyWrongSequence = -12;  // reply sequence number differs from the request's
constexpr int kReplyBadCount = -13;       // count check byte wrong, or a long-form count of zero
constexpr int kReplyCountTooLarge = -14;  // long-form count above the reply buffer
constexpr int kReplyBadCrc = -15;         // CRC mismatch
constexpr int kReplyBadEnd = -16;         // the byte after the CRC is not the end marker

// Receive, serial and HID
constexpr int kSerialReadFailed = -17;  // reading the port's state or its bytes failed
constexpr int kHidReadFailed = -17;     // the device failed a read or went away

// TCP drain, send and receive
constexpr int kPeerClosed = -18;   // the peer closed the connection
constexpr int kSocketError = -19;  // socket error other than would-block, or no socket open

// Transact: the device's own result byte
constexpr int kTransactDeviceDetail = -20;   // device result 1; `detail` holds its detail code
constexpr int kTransactDeviceResult2 = -21;  // device result 2
constexpr int kTransactDeviceResult3 = -22;  // device result 3
constexpr int kTransactDeviceResult4 = -23;  // device result 4
constexpr int kTransactDeviceOther = -24;    // device result 5 to 127

// Drain and send, serial
constexpr int kSerialNotOpen = -26;   // drain: the port is not open
constexpr int kSerialIoFailed = -27;  // drain or send: the port's state, a read or the write failed

// Open, HID
constexpr int kHidNoDevice = -28;  // no present device with VendorId and ProductId

// Transact: requests that cannot be framed; nothing is sent
constexpr int kTransactTooLong = -29;      // more data bytes than one request frame holds
constexpr int kTransactNoMarkerRow = -30;  // MarkerSet names no row of the marker table

// A short English text for `code`: what failed, in the words a person at the
// bench needs. Where two transports share the value, the text names the
// meaning on each. Success and unknown codes have texts too.
const char* ChannelResultText(int code);

// The same, for a channel of transport `kind` (TransportKind): of a shared
// value only the meaning on that transport.
const char* ChannelResultText(int code, uint8_t kind);
