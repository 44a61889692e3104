// The tests a setup reply must pass, on any datagram, and the setup datagram
// built from any request, address fields without their zero byte included.
//
// Input: the request's MAC (6 bytes); the receive's result (2 bytes,
// big-endian, taken as signed: negative is a failed receive, above 256 a
// datagram longer than the buffer); the datagram's bytes (as many as the
// result says, at most 256); then, for the datagram the tool sends, three
// 20-byte address fields, the port (2 bytes), the baud-rate code and the
// command code.
#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "setup/SetupDatagram.h"
#include "setup/SetupRequest.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

using Bytes = std::vector<uint8_t>;

FUZZ_MODEL SetupReplyVerdict ModelVerdict(const Bytes& arrived, long received, const uint8_t* mac) {
    if (received < 14 || received > 256) {
        return SetupReplyVerdict::TooShortOrFailed;
    }
    if (std::memcmp(arrived.data(), "KVM47JR", 7) != 0) {
        return SetupReplyVerdict::NotAReply;
    }
    if (arrived[7] != 2 && arrived[7] != 3) {
        return SetupReplyVerdict::NotAConfirmation;
    }
    if (std::memcmp(arrived.data() + 8, mac, 6) != 0) {
        return SetupReplyVerdict::OtherDevice;
    }
    return SetupReplyVerdict::Confirms;
}

void CheckReplyTests(FuzzInput& input, uint8_t (&mac)[kSetupMacLength]) {
    const Bytes macBytes = input.Bytes(kSetupMacLength);
    std::copy(macBytes.begin(), macBytes.end(), mac);
    long received = static_cast<int16_t>(input.BigEndian16());
    Bytes arrived;
    if (received >= 0) {
        arrived = input.Bytes(received < 256 ? static_cast<size_t>(received) : 256);
        if (received <= 256) {
            received = static_cast<long>(arrived.size());
        }
    }
    // Only the bytes that arrived exist, so a read past them is caught.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[arrived.size()]);
    if (!arrived.empty()) {
        std::memcpy(buffer.get(), arrived.data(), arrived.size());
    }
    FUZZ_CHECK(ClassifySetupReply(buffer.get(), received, mac) ==
               ModelVerdict(arrived, received, mac));
}

// A part of the text that inet_aton reads (up to the first blank) with a
// leading zero and more digits, which it would take as octal.
FUZZ_MODEL bool ModelOctalPart(const char* field) {
    const std::string read(field, std::strcspn(field, " \t\n\v\f\r"));
    size_t start = 0;
    while (start <= read.size()) {
        const size_t end = std::min(read.find('.', start), read.size());
        const std::string part = read.substr(start, end - start);
        if (part.size() > 1 && part[0] == '0' && part[1] >= '0' && part[1] <= '9') {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// inet_aton reads what inet_addr reads, but tells all ones from failure.
FUZZ_MODEL bool ModelAddress(const char (&field)[kAddressTextFieldSize], uint32_t* hostOrder) {
    if (std::memchr(field, '\0', sizeof field) == nullptr || ModelOctalPart(field)) {
        return false;
    }
    in_addr address{};
    if (inet_aton(field, &address) == 0 || address.s_addr == INADDR_NONE) {
        return false;
    }
    *hostOrder = ntohl(address.s_addr);
    return true;
}

void CheckDatagram(FuzzInput& input, const uint8_t (&mac)[kSetupMacLength]) {
    SetupRequest request;
    std::memcpy(request.Mac, mac, sizeof mac);
    for (auto* field : {&request.NewIp, &request.NewMask, &request.NewGateway}) {
        const Bytes text = input.Bytes(kAddressTextFieldSize);
        std::copy(text.begin(), text.end(), *field);
    }
    request.Port = input.BigEndian16();
    request.BaudCode = input.Byte();
    request.Command = input.Byte();

    uint8_t datagram[kSetupDatagramLength];
    const int built = BuildSetupDatagram(request, datagram);

    const int refusals[] = {kSetupNewIpRefused, kSetupNewMaskRefused, kSetupNewGatewayRefused};
    const char(*fields[])[kAddressTextFieldSize] = {&request.NewIp, &request.NewMask,
                                                    &request.NewGateway};
    uint32_t addresses[3] = {};
    int expected = kSetupDatagramBuilt;
    for (int i = 0; i < 3 && expected == kSetupDatagramBuilt; ++i) {
        if (!ModelAddress(*fields[i], &addresses[i])) {
            expected = refusals[i];
        }
    }
    FUZZ_CHECK(built == expected);
    if (built != kSetupDatagramBuilt) {
        return;
    }
    FUZZ_CHECK(std::memcmp(datagram, "KVM47JS", 7) == 0);
    FUZZ_CHECK(datagram[7] == request.Command);
    FUZZ_CHECK(std::memcmp(datagram + 8, mac, 6) == 0);
    for (int i = 0; i < 3; ++i) {
        for (int b = 0; b < 4; ++b) {
            FUZZ_CHECK(datagram[14 + 4 * i + b] ==
                       static_cast<uint8_t>(addresses[i] >> (8 * (3 - b))));
        }
    }
    FUZZ_CHECK(datagram[26] == request.Port >> 8);
    FUZZ_CHECK(datagram[27] == (request.Port & 0xFF));
    FUZZ_CHECK(datagram[28] == request.BaudCode);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    uint8_t mac[kSetupMacLength] = {};
    CheckReplyTests(input, mac);
    CheckDatagram(input, mac);
    return 0;
}
