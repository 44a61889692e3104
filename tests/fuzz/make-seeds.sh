#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets (corpus/<target>/) from the
# exact bytes that the unit and lab tests use. Run it again after changing a
# target's input layout; the files are committed, beside the inputs of
# findings that were fixed and a minimised corpus of longer runs (files named
# by their SHA-1), which this script leaves alone.
set -euo pipefail
cd "$(dirname "$0")/corpus"

# Bytes from hexadecimal pairs: bin 4B 56 ...
bin() {
    local pair
    for pair in "$@"; do
        # shellcheck disable=SC2059
        printf "\\x$pair"
    done
}
# Text bytes, no terminator.
txt() { printf '%s' "$1"; }
# A text in a zero-padded field of $2 bytes.
field() {
    local text="$1" width="$2"
    printf '%s' "$text"
    head -c $((width - ${#text})) /dev/zero
}
seed() {
    local target="$1" name="$2"
    mkdir -p "$target"
    cat >"$target/$name"
}

# CRC-16/ARC (reflected 0xA001, initial 0, no final XOR) of hexadecimal pairs.
crc16arc() {
    local crc=0 pair bit
    for pair in "$@"; do
        crc=$((crc ^ 16#$pair))
        for bit in 1 2 3 4 5 6 7 8; do
            if ((crc & 1)); then crc=$(((crc >> 1) ^ 0xA001)); else crc=$((crc >> 1)); fi
        done
    done
    printf '%02X %02X' $((crc & 0xFF)) $((crc >> 8))
}
# A short-form reply: reply <start> <end> <address LE x4> <sequence> <result> <data...>
reply() {
    local start="$1" end="$2" a0="$3" a1="$4" a2="$5" a3="$6" sequence="$7" result="$8"
    shift 8
    local count=$#
    local head=("$start" 00 "$a0" "$a1" "$a2" "$a3" "$sequence" "$result"
        "$(printf '%02X' $((count ^ 0xFF)))" "$(printf '%02X' "$count")" "$@")
    # shellcheck disable=SC2046
    echo "${head[*]} $(crc16arc "${head[@]}") $end"
}
# A long-form reply of the Set ID exchange with `count` data bytes n*13+5.
long_reply() {
    local count="$1" low high n data=()
    low=$(printf '%02X' $((count & 0xFF)))
    high=$(printf '%02X' $((count >> 8)))
    for ((n = 0; n < count; n++)); do data+=("$(printf '%02X' $(((n * 13 + 5) & 0xFF)))"); done
    local head=(91 00 01 00 00 00 01 00 "$(printf '%02X' $(((count & 0xFF) ^ (count >> 8) ^ 0xFF)))"
        00 "$low" "$high" "${data[@]}")
    echo "${head[*]} $(crc16arc "${head[@]}") 03"
}

# --- discovery_table: capacity, sorts, then (length, datagram) pairs ------
D=discovery_table
HEADER="4B 56 4D 34 37 4A 52 01"
FULL="00 1A 2B 3C 4D 5E 01 05 C0 A8 01 09 FF FF 00 00 0A 00 00 01 01 F6 04 AB CD"
FF_MAC="00 1A 2B FF FF FF 01 06 C0 A8 01 0A FF FF FF 00 C0 A8 01 01 0F A1 03"
SAME_IP="02 56 51 00 00 01 01 06 C0 A8 01 09 FF FF FF 00 C0 A8 01 01 0F A1 07"
{ bin 1F FF 00 00 21 $HEADER $FULL; } | seed $D one-device
{ bin 1F FF 1D 00 21 $HEADER $FULL 00 1F $HEADER $FF_MAC 00 1F $HEADER $SAME_IP; } | seed $D three-devices
{ bin 1F FF 18 00 08 $HEADER 00 09 $HEADER 00; } | seed $D eight-and-nine-bytes
{ bin 1F FF 0B 00 08 4B 56 4D 34 37 4A 53 01 00 0E $HEADER 00 1A 2B 3C 4D 5E; } | seed $D own-request
{ bin 1F FF 16 00 0E 4B 56 4D 34 37 4A 52 02 00 1A 2B 3C 4D 5E 00 1F $HEADER $FF_MAC; } | seed $D setup-reply-skipped
{ bin 1F FF 13 FF FF 01 01 00 1F $HEADER $SAME_IP; } | seed $D failed-then-too-long
{
    bin 1F FF 1C 01 00 $HEADER
    head -c 248 /dev/zero | tr '\0' '\021'
} | seed $D largest-reply
{
    bin 00 30 11
    for _ in 1 2 3; do bin 00 1F $HEADER $SAME_IP; done
} | seed $D small-capacity
# 255 records of one byte, and one more that no longer fits the count: one
# datagram, then the same 255 times more (length FF00 + 254).
{ bin 1F FF 1E 00 09 $HEADER 07 FF FE; } | seed $D full-by-count
# Three devices, twenty times over, into a table that fills by its bytes.
{ bin 06 00 00 00 21 $HEADER $FULL FF 13 00 1F $HEADER $FF_MAC FF 13 00 1F $HEADER $SAME_IP FF 13; } |
    seed $D full-by-bytes

# --- setup_reply: MAC, received, datagram, then a request ----------------
S=setup_reply
MAC="00 1A 2B 3C 4D 5E"
REQUEST() {
    field "192.168.1.20" 20
    field "${1:-255.255.255.0}" 20
    field "192.168.1.1" 20
    bin 01 F6 03 02
}
{ bin $MAC 00 0E 4B 56 4D 34 37 4A 52 02 $MAC; REQUEST; } | seed $S confirm-code-2
{ bin $MAC 00 1F 4B 56 4D 34 37 4A 52 03 $MAC 01 06 C0 A8 01 14 FF FF FF 00 C0 A8 01 01 01 F6 03; REQUEST; } | seed $S confirm-code-3
{ bin $MAC 00 0D 4B 56 4D 34 37 4A 52 02 00 1A 2B 3C 4D; REQUEST; } | seed $S thirteen-bytes
{ bin $MAC 00 0E 4B 56 4D 34 37 4A 52 01 $MAC; REQUEST; } | seed $S discovery-reply
{ bin $MAC 00 0E 4B 56 4D 34 37 4A 52 02 00 1A 2B 3C 4D A1; REQUEST; } | seed $S other-mac
{ bin $MAC 00 0E 4B 56 4D 34 37 4A 53 02 $MAC; REQUEST; } | seed $S request-identifier
{ bin $MAC 01 01 4B 56 4D 34 37 4A 52 02 $MAC; head -c 242 /dev/zero; REQUEST; } | seed $S oversized
{ bin $MAC FF FF; REQUEST 255.255.255.255; } | seed $S failed-receive-all-ones-mask

# --- reply_parser: address, sequence, flags, stream ----------------------
P=reply_parser
SETID_REPLY="$(reply 91 03 01 00 00 00 01 00 05)"
{ bin 01 00 00 00 01 00 $SETID_REPLY; } | seed $P set-id-reply
{ bin 01 00 00 00 01 00 00 03 19 9A FF $SETID_REPLY; } | seed $P noise-then-reply
{ bin 01 00 00 00 01 00 $(reply 91 03 02 00 00 00 01 00 05) $SETID_REPLY; } | seed $P wrong-address-first
{ bin 01 00 00 00 01 00 $(reply 91 03 01 00 00 00 02 00 05); } | seed $P wrong-sequence
{ bin 01 00 00 00 01 00 $(reply 91 03 01 00 00 00 01 81 07 02); } | seed $P detail-207
{ bin 01 00 00 00 01 00 $(reply 91 03 01 00 00 00 01 80 05); } | seed $P result-bit-7
{ bin 01 00 00 00 01 00 91 00 01 00 00 00 01 00 FD 01 05; } | seed $P bad-count-check
{ bin 01 00 00 00 01 00 91 00 01 00 00 00 01 00 30 00 E1 2E; } | seed $P long-count-12001
{ bin 01 00 00 00 01 00 91 00 01 00 00 00 01 00 FF 00 00 00; } | seed $P long-count-zero
{ bin 01 00 00 00 01 00 $(long_reply 300); } | seed $P long-form-300
{ bin 01 00 00 00 01 00 $(reply 91 04 01 00 00 00 01 00 05); } | seed $P bad-end
{ bin 01 00 00 00 01 01 $(reply 9A 06 01 00 00 00 01 00 05); } | seed $P second-marker-row
{ bin D4 C3 B2 A1 01 00 $(reply 91 03 D4 C3 B2 A1 01 04 08 09); } | seed $P whole-address

# --- reply_receive: address, sequence, flags, split bytes, stream --------
R=reply_receive
{ bin 01 00 00 00 01 00 00 $SETID_REPLY; } | seed $R whole
{ bin 01 00 00 00 01 00 01 01 $SETID_REPLY; } | seed $R byte-by-byte
{ bin 01 00 00 00 01 00 03 05 7E BD 00 03 $SETID_REPLY; } | seed $R mixed-pieces
{ bin 01 00 00 00 01 00 02 0A C1 $(reply 91 03 01 00 00 00 01 81 07 02); } | seed $R detail-with-waits
{ bin 01 00 00 00 01 02 01 3F $(long_reply 300); } | seed $R cipher-long-form
{ bin 01 00 00 00 01 00 01 07 91 00 01 00 00 00 01 00 FE; } | seed $R cut-mid-frame

# --- reply_loop: address, sequence, flags, rate, T, steps, stream --------
# Flags 00 serial, 02 HID, 04 TCP; rates 50 300 9600 19200 115200 4000000;
# a step is a delay in 8 ms units (plus 1 ms) and a byte count.
L=reply_loop
{ bin 01 00 00 00 01 04 00 0B B8 01 00 FF $SETID_REPLY; } | seed $L tcp-whole
{ bin 01 00 00 00 01 00 01 01 F4 01 04 01 $(long_reply 100); } | seed $L serial-300-honest
{ bin 01 00 00 00 01 00 04 01 F4 02 00 0C 37 01 $(long_reply 4000); } | seed $L serial-trickle
{ bin 01 00 00 00 01 04 00 01 F4 02 00 0C 37 01 $(long_reply 4000); } | seed $L tcp-trickle
{ bin 01 00 00 00 01 02 00 01 F4 02 00 0C 37 3E $(long_reply 4000); } | seed $L hid-trickle
{ bin 01 00 00 00 01 00 02 00 64 03 FF 00 05 03 00 00 $SETID_REPLY; } | seed $L empty-waits

# --- hex_pairs and str_to_int: the text ----------------------------------
H=hex_pairs
n=0
for text in "00.1A.2B.3C.4D.5E" "FF.FF.FF.FF.FF.FF" "0a 0b" "AB-CD" "AB.CD-EF" "AB.CD.E" "" "A" \
    "AB" "12.G4.56" "12.34.5 "; do
    name="text-$((n++))"
    txt "$text" | seed $H "$name"
done
I=str_to_int
n=0
for text in "0" "502" "+502" "-502" "-0" "   80" " -7" "00000000000000000042" "70000" \
    "2147483647" "-2147483648" "\$1F" "x1F" "X1f" "0x1F" "0XaB" "  \$10" "\$7FFFFFFF" \
    "\$80000000" "0xFFFFFFFF" "abc" "80 " "+-1" "1e3" "\$" "0x" "-\$10" "00x10" "2147483648" \
    "-2147483649" "99999999999999999999999" "0x1FFFFFFFF"; do
    name="text-$((n++))"
    txt "$text" | seed $I "$name"
done
printf '1\0' | seed $I text-nul
printf '\t80' | seed $I text-tab

# --- plan_reader: plan files ---------------------------------------------
P=plan_reader
printf 'mac,ip,mask,gateway,port,baud,id,note\n00.1A.2B.3C.4D.5E,10.231.101.50,,,4005,9600,5,first\n00.1A.2B.3C.4D.61,,,,,,,untouched\n00.1A.2B.10.20.30,10.231.101.51,,,,,9,"a, quoted note"\n' |
    seed $P mixed
printf 'mac,ip,port,id,baud\n00.1A.2B.3C.4D.5X,10.0.0.1,70000,256,9601\n00.1A.2B.3C.4D.61,10.231.101.9,4001,1,\n00.1A.2B.3C.4D.61,10.0.0.1,,,\n' |
    seed $P refused
printf 'mac,ip,mask,gateway,port,baud,id\r\n00:1a:2b:3c:4d:5e,10.0.0.9,255.255.255.0,10.0.0.1,4001,115200,255\r\n"00.1A.2B.3C.4D.5F","10.0.0.10",,,"4,2",,\r\n' |
    seed $P crlf-quoted
printf 'mac\n"00.1A.2B\n' | seed $P unterminated

# --- command_line, and plan_reader's address words: one word a line -------
for target in command_line plan_reader; do
    printf 'setup\n00.1A.2B.3C.4D.5E\n--ip\n10.231.101.50\n--port\n4002\n--verify\n--json\n' |
        seed $target setup-words
    printf 'apply\nplan.csv\n--settle-timeout\n20\n--find-timeout\n5\n-P\n64\n--csv\n' |
        seed $target apply-words
    printf 'set-id\n7\n--host\n10.0.0.9\n--port\n4001\n' | seed $target set-id-words
    printf 'search\n--passes\n3\n--first-wait\n2\n--sort\nip\n' | seed $target search-words
done
