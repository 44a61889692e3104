#pragma once

// Result codes of the device channel and its transactions. Every operation
// returns 0 (or a positive count) for success and one of these for failure;
// callers tell only success from failure. The serial and HID transports add
// their own codes beside their files.

constexpr int kChannelOk = 0;  // success (Open, drain, send)

// Open, TCP
constexpr int kTcpBadAddress = -3;      // HostAddress is not a dotted IPv4 address, or does not fit
constexpr int kTcpNoSocket = -4;        // no socket could be created
constexpr int kTcpNonBlocking = -5;     // switching the socket to non-blocking mode failed
constexpr int kTcpConnectTimeout = -6;  // no connection within the limit, or the wait failed
constexpr int kTcpConnectFailed = -7;   // the connection attempt failed (refused, unreachable)
constexpr int kTcpNotWritable = -8;     // the socket was not writable after the wait

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

// TCP drain, send and receive
constexpr int kPeerClosed = -18;   // the peer closed the connection
constexpr int kSocketError = -19;  // socket error other than would-block, or no socket open

// Transact: the device's own result byte
constexpr int kTransactDeviceDetail = -20;   // device result 1; `detail` holds its detail code
constexpr int kTransactDeviceResult2 = -21;  // device result 2
constexpr int kTransactDeviceResult3 = -22;  // device result 3
constexpr int kTransactDeviceResult4 = -23;  // device result 4
constexpr int kTransactDeviceOther = -24;    // device result 5 to 127

// Transact: requests that cannot be framed; nothing is sent
constexpr int kTransactTooLong = -29;      // more data bytes than one request frame holds
constexpr int kTransactNoMarkerRow = -30;  // MarkerSet names no row of the marker table
