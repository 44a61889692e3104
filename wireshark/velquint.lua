-- Velquint Tool on the wire, for Wireshark 4.0 (Lua 5.2) and later.
--
-- Two protocols:
--   velquint        the discovery and setup datagrams on UDP port 3195
--   velquint_frame  the device frames of the framed channel over TCP, found on
--                   any port by a heuristic, or by "Decode As", or by the port
--                   preference
--
-- Load it with `tshark -X lua_script:wireshark/velquint.lua`, or copy or link
-- it into ~/.local/lib/wireshark/plugins/.
--
-- A device, or anything else that sends to these ports, is not trusted: every
-- read is checked against the bytes the capture holds, and whatever the tool
-- itself would refuse is marked with expert info rather than interpreted.

local bits = bit32 or bit

------------------------------------------------------------------------------
-- Discovery and setup datagrams
------------------------------------------------------------------------------

local kDatagramPort = 3195

local kIdentifierLength = 7
local kRequestIdentifier = "KVM47JS"
local kReplyIdentifier = "KVM47JR"
local kCommandOffset = 7
local kHeaderLength = 8

local kSearchCommand = 1
local kSetupCommand = 2
local kSetupConfirmedAlternative = 3

-- What the tool sends, byte for byte in length, and what it takes.
local kSearchRequestLength = 8
local kSetupRequestLength = 29
local kShortestDiscoveryReply = 9
local kShortestSetupReply = 14
local kLargestReplyRead = 256

local kMacLength = 6
local kIpv4Length = 4

-- Discovery reply: the record from byte 8 on, read at fixed offsets.
local kReplyMacOffset = 8
local kReplyMajorOffset = 14
local kReplyMinorOffset = 15
local kReplyIpOffset = 16
local kReplyMaskOffset = 20
local kReplyGatewayOffset = 24
local kReplyPortOffset = 28
local kReplyBaudOffset = 30
local kReplyExtraOffset = 31

-- Setup datagram: the addresses follow the MAC at once, with no version
-- bytes in between, so the two layouts must not be mixed up.
local kSetupMacOffset = 8
local kSetupIpOffset = 14
local kSetupMaskOffset = 18
local kSetupGatewayOffset = 22
local kSetupPortOffset = 26
local kSetupBaudOffset = 28

-- Setup reply: the tool looks at the MAC and no further.
local kSetupReplyMacOffset = 8
local kSetupReplyExaminedLength = 14

local kBaudRates = { [0] = 300, 1200, 4800, 9600, 19200, 38400, 57600, 115200 }
local kNoRateChosen = 0xFF

local datagram = Proto("velquint", "Velquint discovery and setup")

local df = {
    identifier = ProtoField.string("velquint.identifier", "Identifier"),
    command = ProtoField.uint8("velquint.command", "Command code", base.DEC),
    mac = ProtoField.string("velquint.mac", "MAC address"),
    version = ProtoField.string("velquint.version", "Firmware version"),
    major = ProtoField.uint8("velquint.version.major", "Firmware version, major", base.DEC),
    minor = ProtoField.uint8("velquint.version.minor", "Firmware version, minor", base.DEC),
    ip = ProtoField.ipv4("velquint.ip", "IP address"),
    mask = ProtoField.ipv4("velquint.mask", "Subnet mask"),
    gateway = ProtoField.ipv4("velquint.gateway", "Gateway"),
    port = ProtoField.uint16("velquint.port", "Service port", base.DEC),
    baud_code = ProtoField.uint8("velquint.baud_code", "Baud-rate code", base.DEC),
    baud_rate = ProtoField.uint32("velquint.baud_rate", "Baud rate", base.DEC),
    extra = ProtoField.bytes("velquint.extra", "Further bytes"),
    new_ip = ProtoField.ipv4("velquint.new_ip", "New IP address"),
    new_mask = ProtoField.ipv4("velquint.new_mask", "New subnet mask"),
    new_gateway = ProtoField.ipv4("velquint.new_gateway", "New gateway"),
    new_port = ProtoField.uint16("velquint.new_port", "New service port", base.DEC),
    new_baud_code = ProtoField.uint8("velquint.new_baud_code", "New baud-rate code", base.DEC),
    unexamined = ProtoField.bytes("velquint.unexamined", "Bytes the tool does not examine"),
    data = ProtoField.bytes("velquint.data", "Data"),
}
datagram.fields = df

local de = {
    not_accepted = ProtoExpert.new("velquint.not_accepted", "Not a datagram the tool sends or accepts",
        expert.group.MALFORMED, expert.severity.WARN),
    short_record = ProtoExpert.new("velquint.short_record", "Device record without every field",
        expert.group.PROTOCOL, expert.severity.NOTE),
    baud_outside = ProtoExpert.new("velquint.baud_outside", "Baud-rate code outside the table",
        expert.group.PROTOCOL, expert.severity.NOTE),
    cut_short = ProtoExpert.new("velquint.cut_short", "Datagram cut short in the capture",
        expert.group.MALFORMED, expert.severity.ERROR),
}
datagram.experts = de

local function byte_at(tvb, offset)
    return tvb(offset, 1):uint()
end

-- True when the capture holds `width` bytes from `offset` on.
local function holds(tvb, offset, width)
    return offset >= 0 and offset + width <= tvb:len()
end

-- The MAC as the device list shows it: upper-case pairs joined by dots.
local function mac_text(tvb, offset)
    local pairs_ = {}
    for i = 0, kMacLength - 1 do
        pairs_[#pairs_ + 1] = string.format("%02X", byte_at(tvb, offset + i))
    end
    return table.concat(pairs_, ".")
end

-- Dotted decimal, never a resolved name: the bench compares it with what the
-- tool's list shows.
local function ip_text(tvb, offset)
    return string.format("%d.%d.%d.%d", byte_at(tvb, offset), byte_at(tvb, offset + 1),
        byte_at(tvb, offset + 2), byte_at(tvb, offset + 3))
end

local function add_baud(tree, tvb, field, offset, no_rate_meaning)
    local code = byte_at(tvb, offset)
    local item = tree:add(field, tvb(offset, 1))
    local rate = kBaudRates[code]
    if rate then
        item:append_text(string.format(" (%d bit/s)", rate))
        tree:add(df.baud_rate, rate):set_generated()
    elseif code == kNoRateChosen and no_rate_meaning then
        item:append_text(" (" .. no_rate_meaning .. ")")
    else
        item:add_proto_expert_info(de.baud_outside,
            string.format("Baud-rate code %d is outside the table (0 = 300 ... 7 = 115200)", code))
    end
end

-- Which datagram the tool would take this for, by its own rules, or why it
-- would take it for none. Lengths are the datagram's, which the capture may
-- hold only in part.
local function classify(tvb)
    local length = tvb:reported_len()
    if not holds(tvb, 0, kHeaderLength) then
        return nil, string.format("%d bytes, shorter than the %d-byte header", length, kHeaderLength)
    end
    local identifier = tvb:raw(0, kIdentifierLength)
    local command = byte_at(tvb, kCommandOffset)
    if identifier == kRequestIdentifier then
        if command == kSearchCommand then
            if length == kSearchRequestLength then
                return "search"
            end
            return nil, string.format("search request of %d bytes; the tool sends %d", length,
                kSearchRequestLength)
        elseif command == kSetupCommand then
            if length == kSetupRequestLength then
                return "setup"
            end
            return nil, string.format("setup request of %d bytes; the tool sends %d", length,
                kSetupRequestLength)
        end
        return nil, string.format("request with command code %d, which the tool never sends", command)
    elseif identifier == kReplyIdentifier then
        local shortest
        local kind
        if command == kSearchCommand then
            shortest, kind = kShortestDiscoveryReply, "discovery reply"
        elseif command == kSetupCommand or command == kSetupConfirmedAlternative then
            shortest, kind = kShortestSetupReply, "setup reply"
        else
            return nil, string.format("reply with command code %d, which the tool takes neither "
                .. "as a discovery reply (1) nor as a setup confirmation (2 or 3)", command)
        end
        if length < shortest then
            return nil, string.format("%s of %d bytes; the tool takes %d or more", kind, length,
                shortest)
        end
        if length > kLargestReplyRead then
            return nil, string.format("%s of %d bytes; the tool reads at most %d", kind, length,
                kLargestReplyRead)
        end
        return command == kSearchCommand and "discovery reply" or "setup reply"
    end
    return nil, "opens with neither " .. kRequestIdentifier .. " nor " .. kReplyIdentifier
end

local function add_datagram_header(tree, tvb, command_meaning)
    tree:add(df.identifier, tvb(0, kIdentifierLength))
    tree:add(df.command, tvb(kCommandOffset, 1)):append_text(" (" .. command_meaning .. ")")
end

local function dissect_search(tvb, tree)
    add_datagram_header(tree, tvb, "search")
    return "Search request"
end

local function dissect_discovery_reply(tvb, tree)
    add_datagram_header(tree, tvb, "search")
    local fields_end = kReplyBaudOffset + 1
    if tvb:reported_len() < fields_end then
        local record = tvb:reported_len() - kHeaderLength
        tree:add_proto_expert_info(de.short_record, string.format(
            "Record of %d byte%s: the fields from byte %d of the reply on are missing, and the "
            .. "tool lists them empty", record, record == 1 and "" or "s", tvb:reported_len()))
    end
    local mac, ip
    if holds(tvb, kReplyMacOffset, kMacLength) then
        mac = mac_text(tvb, kReplyMacOffset)
        tree:add(df.mac, tvb(kReplyMacOffset, kMacLength), mac)
    end
    if holds(tvb, kReplyMajorOffset, 2) then
        local major = byte_at(tvb, kReplyMajorOffset)
        local minor = byte_at(tvb, kReplyMinorOffset)
        local version = tree:add(df.version, tvb(kReplyMajorOffset, 2),
            string.format("%d.%2.2d", major, minor))
        version:add(df.major, tvb(kReplyMajorOffset, 1))
        version:add(df.minor, tvb(kReplyMinorOffset, 1))
    end
    if holds(tvb, kReplyIpOffset, kIpv4Length) then
        ip = ip_text(tvb, kReplyIpOffset)
        tree:add(df.ip, tvb(kReplyIpOffset, kIpv4Length))
    end
    if holds(tvb, kReplyMaskOffset, kIpv4Length) then
        tree:add(df.mask, tvb(kReplyMaskOffset, kIpv4Length))
    end
    if holds(tvb, kReplyGatewayOffset, kIpv4Length) then
        tree:add(df.gateway, tvb(kReplyGatewayOffset, kIpv4Length))
    end
    if holds(tvb, kReplyPortOffset, 2) then
        tree:add(df.port, tvb(kReplyPortOffset, 2))
    end
    if holds(tvb, kReplyBaudOffset, 1) then
        add_baud(tree, tvb, df.baud_code, kReplyBaudOffset)
    end
    if tvb:len() > kReplyExtraOffset then
        tree:add(df.extra, tvb(kReplyExtraOffset))
    end
    local info = "Device"
    if mac then
        info = info .. " " .. mac
    end
    if ip then
        info = info .. " " .. ip
    end
    return info
end

local function dissect_setup(tvb, tree)
    add_datagram_header(tree, tvb, "setup")
    local mac = mac_text(tvb, kSetupMacOffset)
    tree:add(df.mac, tvb(kSetupMacOffset, kMacLength), mac)
    tree:add(df.new_ip, tvb(kSetupIpOffset, kIpv4Length))
    tree:add(df.new_mask, tvb(kSetupMaskOffset, kIpv4Length))
    tree:add(df.new_gateway, tvb(kSetupGatewayOffset, kIpv4Length))
    tree:add(df.new_port, tvb(kSetupPortOffset, 2))
    add_baud(tree, tvb, df.new_baud_code, kSetupBaudOffset, "no rate chosen")
    return "Setup of " .. mac .. " → " .. ip_text(tvb, kSetupIpOffset)
end

local function dissect_setup_reply(tvb, tree)
    add_datagram_header(tree, tvb, "setup confirmed")
    local mac = mac_text(tvb, kSetupReplyMacOffset)
    tree:add(df.mac, tvb(kSetupReplyMacOffset, kMacLength), mac)
    if tvb:len() > kSetupReplyExaminedLength then
        tree:add(df.unexamined, tvb(kSetupReplyExaminedLength))
    end
    return "Setup confirmed by " .. mac
end

-- The header, when it is one of the tool's, and the rest as plain bytes.
local function add_uninterpreted(tvb, tree)
    local offset = 0
    if holds(tvb, 0, kHeaderLength) then
        local identifier = tvb:raw(0, kIdentifierLength)
        if identifier == kRequestIdentifier or identifier == kReplyIdentifier then
            tree:add(df.identifier, tvb(0, kIdentifierLength))
            tree:add(df.command, tvb(kCommandOffset, 1))
            offset = kHeaderLength
        end
    end
    if tvb:len() > offset then
        tree:add(df.data, tvb(offset))
    end
end

local function dissect_refused(tvb, tree, why)
    tree:add_proto_expert_info(de.not_accepted, "Not a datagram the tool sends or accepts: " .. why)
    add_uninterpreted(tvb, tree)
    return "Not accepted: " .. why
end

local dissect_kind = {
    ["search"] = dissect_search,
    ["discovery reply"] = dissect_discovery_reply,
    ["setup"] = dissect_setup,
    ["setup reply"] = dissect_setup_reply,
}

function datagram.dissector(tvb, pinfo, tree)
    pinfo.cols.protocol = "Velquint"
    local subtree = tree:add(datagram, tvb())
    local kind, why = classify(tvb)
    local info
    if kind and holds(tvb, 0, tvb:reported_len()) then
        info = dissect_kind[kind](tvb, subtree)
    elseif kind then
        -- The tool would take it, but the capture lacks its end: nothing is
        -- read from bytes that are not there.
        subtree:add_proto_expert_info(de.cut_short, string.format(
            "The capture holds %d of the datagram's %d bytes", tvb:len(), tvb:reported_len()))
        add_uninterpreted(tvb, subtree)
        info = "Cut short in the capture: " .. kind
    else
        info = dissect_refused(tvb, subtree, why)
    end
    pinfo.cols.info = info
    return tvb:len()
end

DissectorTable.get("udp.port"):add(kDatagramPort, datagram)

------------------------------------------------------------------------------
-- Device frames
------------------------------------------------------------------------------

-- Start markers name the direction and the marker row at once; each row has
-- its own end marker, the same in both directions.
local kStarts = {
    [0x19] = { request = true, row = 0, finish = 0x03 },
    [0x91] = { request = false, row = 0, finish = 0x03 },
    [0xA9] = { request = true, row = 1, finish = 0x06 },
    [0x9A] = { request = false, row = 1, finish = 0x06 },
}

-- Header offsets of each direction, and the largest count each may carry: a
-- request frame is built in 4100 bytes (at most 4085 data bytes plus the
-- command code), a reply carries at most 12000 data bytes. The count covers
-- the command code and the data in a request, the data alone in a reply.
local kRequestLayout = {
    name = "Request", sequence = 1, address = 2, ["function"] = 6,
    count_check = 7, count = 8, short_header = 9, long_header = 11,
    largest_count = 4086, limit_text = "4086 (4085 data bytes and the command code)",
}
local kReplyLayout = {
    name = "Reply", unexamined = 1, address = 2, sequence = 6, result = 7,
    count_check = 8, count = 9, short_header = 10, long_header = 12,
    largest_count = 12000, limit_text = "12000 data bytes",
}
local kAddressLength = 4
local kShortFormLargestCount = 255
local kLongFormMark = 0x00
local kCountCheckXor = 0xFF
local kCrcLength = 2
local kTrailerLength = 3

local kResultMask = 0x7F
local kResultFailedWithDetail = 1
local kDetailHighWeight = 100

-- RC4 key the tool and enciphering devices share, the same both ways.
local kPayloadCipherKey = "vqTool-Frame-K16"

-- The one request the tool sends; others are shown by number only.
local kKnownRequests = { ["2/90"] = "Set ID" }

local channel = Proto("velquint_frame", "Velquint device frame")

local kStartNames = {
    [0x19] = "request, marker row 0",
    [0x91] = "reply, marker row 0",
    [0xA9] = "request, marker row 1",
    [0x9A] = "reply, marker row 1",
}
local kResultNames = { [0] = "success", "failure with a detail code", "failure 2", "failure 3",
    "failure 4" }
for code = 5, kResultMask do
    kResultNames[code] = "failure (other)"
end

local ff = {
    start = ProtoField.uint8("velquint_frame.start", "Start marker", base.HEX, kStartNames),
    sequence = ProtoField.uint8("velquint_frame.sequence", "Sequence number", base.DEC),
    unexamined = ProtoField.uint8("velquint_frame.byte1", "Byte 1 (not examined)", base.HEX),
    address = ProtoField.uint32("velquint_frame.address", "Address", base.DEC),
    ["function"] = ProtoField.uint8("velquint_frame.function", "Function code", base.DEC),
    count_check = ProtoField.uint8("velquint_frame.count_check", "Count check", base.HEX),
    count_check_ok = ProtoField.bool("velquint_frame.count_check_ok", "Count check right"),
    long_form = ProtoField.uint8("velquint_frame.long_form", "Long-form mark", base.HEX),
    count = ProtoField.uint16("velquint_frame.count", "Count", base.DEC),
    command = ProtoField.uint8("velquint_frame.command", "Command code", base.DEC),
    result = ProtoField.uint8("velquint_frame.result", "Result byte", base.HEX),
    result_code = ProtoField.uint8("velquint_frame.result.code", "Result", base.DEC, kResultNames,
        kResultMask),
    result_bit7 = ProtoField.uint8("velquint_frame.result.bit7", "Bit 7 (ignored)", base.DEC, nil,
        0x80),
    detail = ProtoField.uint16("velquint_frame.detail", "Detail code", base.DEC),
    enciphered = ProtoField.bytes("velquint_frame.enciphered", "Counted region, enciphered"),
    data = ProtoField.bytes("velquint_frame.data", "Data"),
    crc = ProtoField.uint16("velquint_frame.crc", "CRC-16/ARC", base.HEX),
    crc_ok = ProtoField.bool("velquint_frame.crc_ok", "CRC right"),
    finish = ProtoField.uint8("velquint_frame.end", "End marker", base.HEX),
    finish_ok = ProtoField.bool("velquint_frame.end_ok", "End marker right"),
    skipped = ProtoField.bytes("velquint_frame.skipped", "Bytes before a start marker"),
}
channel.fields = ff

local fe = {
    bad_check = ProtoExpert.new("velquint_frame.bad_count_check", "Count check byte wrong",
        expert.group.CHECKSUM, expert.severity.ERROR),
    bad_count = ProtoExpert.new("velquint_frame.bad_count", "Count outside what a frame may carry",
        expert.group.MALFORMED, expert.severity.ERROR),
    bad_crc = ProtoExpert.new("velquint_frame.bad_crc", "CRC wrong",
        expert.group.CHECKSUM, expert.severity.ERROR),
    bad_end = ProtoExpert.new("velquint_frame.bad_end", "End marker wrong",
        expert.group.MALFORMED, expert.severity.ERROR),
    cut_short = ProtoExpert.new("velquint_frame.cut_short", "Frame cut short",
        expert.group.MALFORMED, expert.severity.ERROR),
    skipped = ProtoExpert.new("velquint_frame.skipped_bytes", "Bytes before a start marker",
        expert.group.SEQUENCE, expert.severity.NOTE),
    long_form = ProtoExpert.new("velquint_frame.long_form_small",
        "Long form for a count that the short form holds", expert.group.PROTOCOL,
        expert.severity.NOTE),
    device_failure = ProtoExpert.new("velquint_frame.device_failure", "The device reports a failure",
        expert.group.RESPONSE_CODE, expert.severity.NOTE),
}
channel.experts = fe

channel.prefs.ports = Pref.range("TCP ports", "",
    "TCP ports always taken as the framed channel (besides the heuristic, which finds it on any "
    .. "port a start marker and a right count check open)", 65535)
channel.prefs.cipher = Pref.bool("Payload cipher", false,
    "Decipher the counted region of every frame (RC4 with the tool's key, keyed afresh for each "
    .. "frame), as for devices that expect enciphered frames")

local crc_table = {}
for n = 0, 255 do
    local crc = n
    for _ = 1, 8 do
        if bits.band(crc, 1) ~= 0 then
            crc = bits.bxor(bits.rshift(crc, 1), 0xA001)
        else
            crc = bits.rshift(crc, 1)
        end
    end
    crc_table[n] = crc
end

-- CRC-16/ARC: reflected polynomial 0xA001, initial value 0, no final XOR.
local function crc16_arc(bytes)
    local crc = 0
    for i = 1, #bytes do
        crc = bits.bxor(crc_table[bits.band(bits.bxor(crc, bytes:byte(i)), 0xFF)], bits.rshift(crc, 8))
    end
    return crc
end

local function rc4(key, bytes)
    local box = {}
    for n = 0, 255 do
        box[n] = n
    end
    local j = 0
    for n = 0, 255 do
        j = (j + box[n] + key:byte(n % #key + 1)) % 256
        box[n], box[j] = box[j], box[n]
    end
    local out = {}
    local i
    i, j = 0, 0
    for n = 1, #bytes do
        i = (i + 1) % 256
        j = (j + box[i]) % 256
        box[i], box[j] = box[j], box[i]
        out[n] = string.char(bits.bxor(bytes:byte(n), box[(box[i] + box[j]) % 256]))
    end
    return table.concat(out)
end

local function count_check(count)
    return bits.bxor(bits.bxor(bits.band(count, 0xFF), bits.rshift(count, 8)), kCountCheckXor)
end

-- Which side of each connection sends requests, learnt from the first frame
-- that holds together. The reader on the other side skips every byte until
-- its own start marker, so a request marker in a device's noise is noise.
local roles = {}

local function endpoint(pinfo, source)
    if source then
        return tostring(pinfo.src) .. "/" .. pinfo.src_port
    end
    return tostring(pinfo.dst) .. "/" .. pinfo.dst_port
end

-- Frames still waiting for TCP to bring their rest, one per direction of a
-- connection, from the first pass over the capture. Whatever still waits
-- when the pass is over was cut short by the end of the capture; TCP never
-- hands those bytes over again, so the tail dissector below shows them.
local waiting = {}
local cut_short_at = nil

local function direction(pinfo)
    return endpoint(pinfo, true) .. ">" .. endpoint(pinfo, false)
end

function channel.init()
    roles = {}
    waiting = {}
    cut_short_at = nil
end

-- True when `start` may open a frame sent by this packet's source.
local function starts_here(pinfo, start)
    local marker = kStarts[start]
    if not marker then
        return false
    end
    local role = roles[endpoint(pinfo, true)]
    return role == nil or role == marker.request
end

-- The frame whose start marker is at `offset`, as far as the bytes in hand
-- tell: its layout, count, form and length. `needs` is set when more bytes
-- are wanted (the length so far), `undelimited` when the count cannot be
-- trusted to find the frame's end.
local function measure(tvb, offset)
    local available = tvb:len() - offset
    local marker = kStarts[byte_at(tvb, offset)]
    local layout = marker.request and kRequestLayout or kReplyLayout
    local frame = { marker = marker, layout = layout, offset = offset }
    if available <= layout.count then
        frame.needs = layout.count + 1
        return frame
    end
    local short = byte_at(tvb, offset + layout.count)
    if short ~= kLongFormMark then
        frame.count, frame.header = short, layout.short_header
    else
        if available < layout.long_header then
            frame.needs = layout.long_header
            return frame
        end
        frame.long = true
        frame.count, frame.header = tvb(offset + layout.count + 1, 2):le_uint(), layout.long_header
    end
    frame.check_ok = byte_at(tvb, offset + layout.count_check) == count_check(frame.count)
    if frame.count == 0 or frame.count > layout.largest_count then
        frame.undelimited = true
        frame.length = frame.header
        return frame
    end
    frame.length = frame.header + frame.count + kTrailerLength
    if available < frame.length then
        if frame.check_ok then
            frame.needs = frame.length
        else
            -- A start marker byte inside a device's noise looks just like a
            -- frame with a wrong check byte: never wait for bytes on the word
            -- of such a count.
            frame.undelimited = true
            frame.length = frame.header
        end
        return frame
    end
    local trailer = offset + frame.header + frame.count
    frame.crc = tvb(trailer, kCrcLength):le_uint()
    frame.crc_ok = frame.crc == crc16_arc(tvb:raw(offset, frame.header + frame.count))
    frame.finish = byte_at(tvb, trailer + kCrcLength)
    frame.finish_ok = frame.finish == marker.finish
    -- Whole in hand, a frame whose CRC and end marker agree with its count is
    -- a frame with a damaged check byte, not noise.
    if not frame.check_ok and not (frame.crc_ok and frame.finish_ok) then
        frame.undelimited = true
        frame.length = frame.header
    end
    return frame
end

-- What the frame's counted region says. With the cipher on it is deciphered
-- into a tab of its own; the CRC was over the bytes as they travelled.
local function counted_region(tvb, tree, frame)
    local at = frame.offset + frame.header
    local range = tvb(at, frame.count)
    if not channel.prefs.cipher then
        return range
    end
    tree:add(ff.enciphered, range)
    local plain = rc4(kPayloadCipherKey, range:raw())
    return ByteArray.new(plain, true):tvb("Deciphered"):range()
end

local function hex_preview(range)
    local limit = 8
    local bytes = range:raw(0, math.min(range:len(), limit))
    local text = {}
    for i = 1, #bytes do
        text[#text + 1] = string.format("%02X", bytes:byte(i))
    end
    local more = range:len() > limit and " …" or ""
    return table.concat(text, " ") .. more
end

-- The header fields up to and including the count, as far as they are in
-- hand. Returns the summary for the Info column.
local function add_frame_header(tvb, tree, frame)
    local offset, layout = frame.offset, frame.layout
    local function held(at, width)
        return at and offset + at + width <= tvb:len()
    end
    tree:add(ff.start, tvb(offset, 1))
    if held(layout.unexamined, 1) then
        tree:add(ff.unexamined, tvb(offset + layout.unexamined, 1))
    end
    -- Fields in the order they travel: the reply has the address before the
    -- sequence number, the request after it.
    local in_order = {
        { at = layout.sequence, width = 1, field = ff.sequence },
        { at = layout.address, width = kAddressLength, field = ff.address, little_endian = true },
        { at = layout["function"], width = 1, field = ff["function"] },
    }
    table.sort(in_order, function(a, b)
        return (a.at or 0) < (b.at or 0)
    end)
    for _, header_field in ipairs(in_order) do
        if held(header_field.at, header_field.width) then
            local range = tvb(offset + header_field.at, header_field.width)
            if header_field.little_endian then
                tree:add_le(header_field.field, range)
            else
                tree:add(header_field.field, range)
            end
        end
    end
    if held(layout.result, 1) then
        local range = tvb(offset + layout.result, 1)
        local result = tree:add(ff.result, range)
        result:add(ff.result_code, range)
        result:add(ff.result_bit7, range)
    end
    local summary = layout.name
    if held(layout.sequence, 1) then
        summary = summary .. " " .. byte_at(tvb, offset + layout.sequence)
    end
    if held(layout.address, kAddressLength) then
        summary = summary .. ", address " .. tvb(offset + layout.address, kAddressLength):le_uint()
    end
    if frame.count == nil then
        return summary
    end
    local check_at = offset + layout.count_check
    local check = tree:add(ff.count_check, tvb(check_at, 1))
    tree:add(ff.count_check_ok, frame.check_ok):set_generated()
    if not frame.check_ok then
        check:add_proto_expert_info(fe.bad_check, string.format(
            "Count check 0x%02X wrong: 0x%02X for a count of %d", byte_at(tvb, check_at),
            count_check(frame.count), frame.count))
        summary = summary .. " [bad count check]"
    end
    local count
    if frame.long then
        tree:add(ff.long_form, tvb(offset + layout.count, 1))
        count = tree:add_le(ff.count, tvb(offset + layout.count + 1, 2))
        if frame.marker.request and frame.count <= kShortFormLargestCount and frame.count > 0 then
            count:add_proto_expert_info(fe.long_form, string.format(
                "Long form for a count of %d; the tool sends counts up to %d in the short form",
                frame.count, kShortFormLargestCount))
        end
    else
        count = tree:add(ff.count, tvb(offset + layout.count, 1))
    end
    if frame.count == 0 then
        count:add_proto_expert_info(fe.bad_count, "Long-form count of zero: a reader stops here")
        summary = summary .. " [count 0]"
    elseif frame.count > layout.largest_count then
        count:add_proto_expert_info(fe.bad_count, string.format(
            "Count %d above the limit of %s: a reader stops here", frame.count, layout.limit_text))
        summary = summary .. " [count " .. frame.count .. " above the limit]"
    end
    return summary
end

-- One whole frame from `frame.offset` on. Returns its Info summary.
local function dissect_frame(tvb, pinfo, tree, frame)
    local item = tree:add(channel, tvb(frame.offset, frame.length))
    local summary = add_frame_header(tvb, item, frame)
    if frame.undelimited then
        if frame.check_ok then
            item:append_text(", header only")
        else
            item:append_text(", header only: the count cannot be trusted to find the end")
        end
        return summary
    end

    local region = counted_region(tvb, item, frame)
    local data = region
    if frame.marker.request then
        local command = region:range(0, 1):uint()
        local function_code = byte_at(tvb, frame.offset + frame.layout["function"])
        local known = kKnownRequests[function_code .. "/" .. command]
        local command_item = item:add(ff.command, region:range(0, 1))
        summary = summary .. string.format(", function %d, command %d", function_code, command)
        if known then
            command_item:append_text(" (" .. known .. ")")
            summary = summary .. " (" .. known .. ")"
        end
        data = frame.count > 1 and region:range(1) or nil
    else
        local result = bits.band(byte_at(tvb, frame.offset + frame.layout.result), kResultMask)
        summary = summary .. ", " .. kResultNames[result]
        if result == kResultFailedWithDetail then
            -- The tool counts a data byte that the reply lacks as 0.
            local low = region:range(0, 1):uint()
            local high = frame.count > 1 and region:range(1, 1):uint() or 0
            local detail = low + kDetailHighWeight * high
            item:add(ff.detail, detail):set_generated()
            summary = summary .. " (detail " .. detail .. ")"
        end
        if result ~= 0 then
            item:add_proto_expert_info(fe.device_failure, string.format(
                "The device reports %s (result %d)", kResultNames[result], result))
        end
    end
    if data then
        item:add(ff.data, data)
        summary = summary .. ", data " .. hex_preview(data)
    end

    local trailer = frame.offset + frame.header + frame.count
    local crc = item:add_le(ff.crc, tvb(trailer, kCrcLength))
    item:add(ff.crc_ok, frame.crc_ok):set_generated()
    if not frame.crc_ok then
        local computed = crc16_arc(tvb:raw(frame.offset, frame.header + frame.count))
        crc:add_proto_expert_info(fe.bad_crc, string.format(
            "CRC 0x%04X wrong: 0x%04X over the bytes as they travelled", frame.crc, computed))
        summary = summary .. " [bad CRC]"
    end
    local finish = item:add(ff.finish, tvb(trailer + kCrcLength, 1))
    item:add(ff.finish_ok, frame.finish_ok):set_generated()
    if not frame.finish_ok then
        finish:add_proto_expert_info(fe.bad_end, string.format(
            "End marker 0x%02X wrong: 0x%02X for marker row %d", frame.finish,
            frame.marker.finish, frame.marker.row))
        summary = summary .. " [bad end marker]"
    end
    if frame.check_ok and frame.crc_ok and frame.finish_ok then
        roles[endpoint(pinfo, true)] = frame.marker.request
        roles[endpoint(pinfo, false)] = not frame.marker.request
    end
    return summary
end

-- A frame that ends beyond the bytes there will ever be.
local function dissect_cut_short(tvb, tree, frame, why)
    local item = tree:add(channel, tvb(frame.offset))
    local summary = add_frame_header(tvb, item, frame)
    local held = tvb:len() - frame.offset
    local extent = frame.count and string.format("%d of its %d bytes", held, frame.needs)
        or string.format("%d bytes, within its header", held)
    item:add_proto_expert_info(fe.cut_short, string.format("Frame cut short at %s: %s", extent, why))
    local body = frame.offset + (frame.header or 0)
    if frame.count and body < tvb:len() then
        item:add(ff.data, tvb(body))
    end
    return summary .. " [cut short]"
end

local function add_info(pinfo, summaries)
    if #summaries == 0 then
        return
    end
    local text = table.concat(summaries, "; ")
    -- TCP hands one packet over in parts (the end of a reassembled frame,
    -- then what follows it): each part adds to the column.
    if tostring(pinfo.cols.protocol) == "Velquint frame" then
        pinfo.cols.info:append("; " .. text)
    else
        pinfo.cols.protocol = "Velquint frame"
        pinfo.cols.info = text
    end
end

local function dissect_channel(tvb, pinfo, tree)
    local total = tvb:len()
    -- Bytes the packet carried but the capture did not keep: no segment will
    -- ever bring them, so a frame that needs them is cut short.
    local truncated = tvb:reported_len() > total
    local offset = 0
    local summaries = {}
    if not pinfo.visited then
        -- TCP calls again in this direction only once the waiting frame is
        -- whole, or to hand over newer bytes.
        waiting[direction(pinfo)] = nil
    end
    while offset < total do
        local start = byte_at(tvb, offset)
        if not starts_here(pinfo, start) then
            local stop = offset + 1
            while stop < total and not starts_here(pinfo, byte_at(tvb, stop)) do
                stop = stop + 1
            end
            local item = tree:add(channel, tvb(offset, stop - offset))
            item:append_text(", bytes before a start marker")
            local skipped = item:add(ff.skipped, tvb(offset, stop - offset))
            skipped:add_proto_expert_info(fe.skipped, string.format(
                "%d bytes before a start marker, which a reader skips", stop - offset))
            summaries[#summaries + 1] = string.format("%d bytes skipped", stop - offset)
            offset = stop
        else
            local frame = measure(tvb, offset)
            if frame.needs and pinfo.can_desegment > 0 and not truncated then
                pinfo.desegment_offset = offset
                -- Until the count is in hand, whatever the next segment
                -- brings: asking twice within one packet (for the header,
                -- then for the rest) leaves TCP's second pass without the
                -- reassembled frame.
                pinfo.desegment_len = frame.count and frame.needs - (total - offset)
                    or DESEGMENT_ONE_MORE_SEGMENT
                if not pinfo.visited then
                    waiting[direction(pinfo)] = { number = pinfo.number, bytes = tvb:raw(offset) }
                end
                break
            elseif frame.needs then
                summaries[#summaries + 1] = dissect_cut_short(tvb, tree, frame,
                    truncated and "the capture did not keep the packet whole"
                    or "TCP does not reassemble here (see its preferences)")
                offset = total
            else
                summaries[#summaries + 1] = dissect_frame(tvb, pinfo, tree, frame)
                offset = offset + frame.length
            end
        end
    end
    add_info(pinfo, summaries)
    return total
end
channel.dissector = dissect_channel

-- Shows, on a later look at the packet (a second pass of tshark -2, or when
-- Wireshark shows it), the start of a frame that the capture ends in.
local tail = Proto("velquint_frame_tail", "Velquint device frame cut short by the capture's end")

function tail.dissector(tvb, pinfo, tree)
    if not pinfo.visited then
        return
    end
    if cut_short_at == nil then
        cut_short_at = {}
        for _, frame in pairs(waiting) do
            cut_short_at[frame.number] = frame
        end
    end
    local waited = cut_short_at[pinfo.number]
    if waited == nil then
        return
    end
    local bytes = ByteArray.new(waited.bytes, true):tvb("Frame cut short")
    add_info(pinfo, { dissect_cut_short(bytes, tree, measure(bytes, 0),
        "the capture ends before the rest of it") })
end

register_postdissector(tail)

-- Claims a TCP payload that opens with a start marker and a right count check
-- for a count within the limits, and, when the frame is whole, ends with its
-- row's end marker. The rest of the connection then follows without asking.
local function heuristic(tvb, pinfo, tree)
    if tvb:len() < 1 or not kStarts[byte_at(tvb, 0)] then
        return false
    end
    local frame = measure(tvb, 0)
    if frame.count == nil or frame.undelimited or not frame.check_ok then
        return false
    end
    if not frame.needs and not frame.finish_ok then
        return false
    end
    pinfo.conversation = channel
    -- The function itself: through the Proto's handle it would be one layer
    -- further from TCP and lose TCP's reassembly.
    dissect_channel(tvb, pinfo, tree)
    return true
end

local tcp_ports = DissectorTable.get("tcp.port")
tcp_ports:add_for_decode_as(channel)
channel:register_heuristic("tcp", heuristic)

local registered_ports = ""
function channel.prefs_changed()
    if registered_ports ~= "" then
        tcp_ports:remove(registered_ports, channel)
    end
    registered_ports = channel.prefs.ports
    if registered_ports ~= "" then
        tcp_ports:add(registered_ports, channel)
    end
end
