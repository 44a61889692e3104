#pragma once

// True for a byte that continues a UTF-8 character (10xxxxxx) rather than
// starting one: counting the others counts characters, a column each, as
// editors and terminals count them.
constexpr bool ContinuesUtf8Character(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}
