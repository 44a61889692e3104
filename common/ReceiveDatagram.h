#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

// Receives one datagram into `buffer` with recvmsg and `flags` (MSG_TRUNC is
// added). Returns its length, or -1 for a failed receive (errno set; EAGAIN
// when a non-blocking receive found nothing) and for a datagram longer than
// the buffer, which Linux would otherwise cut silently (errno EMSGSIZE).
// `*interfaceIndex` is the interface it came in on where the socket was asked
// to tell (IP_PKTINFO), and 0 otherwise.
ssize_t ReceiveDatagram(int socket, uint8_t* buffer, size_t size, int flags,
                        unsigned* interfaceIndex);
