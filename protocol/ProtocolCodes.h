#pragma once

#include <cstddef>
#include <cstdint>

namespace zembra {

// Command codes: the first payload byte of a command frame.
inline constexpr std::uint8_t CMD_DOWNLOAD_START = 0xA0;
inline constexpr std::uint8_t CMD_VERSION_CHECK = 0xD0;
inline constexpr std::uint8_t CMD_COMPRESSED = 0x12;
inline constexpr std::uint8_t CMD_MODULE_COPY = 0xB0;
inline constexpr std::uint8_t CMD_BAUD_SWITCH = 0xF0;
inline constexpr std::uint8_t CMD_JUMP = 0xC0;
inline constexpr std::uint8_t CMD_ERASE = 0xEE;
inline constexpr std::uint8_t CMD_WRITE_DATA = 0xDD;

// Flag byte after CMD_COMPRESSED.
inline constexpr std::uint8_t COMPRESSED_REQUEST = 0x00;      // ask for the compressed mode
inline constexpr std::uint8_t COMPRESSED_CONTINUES = 0x01;    // LZO block data, more follows
inline constexpr std::uint8_t COMPRESSED_LAST = 0x02;         // last packet of the block
inline constexpr std::uint8_t UNCOMPRESSED_CONTINUES = 0x03;  // plain block data, more follows

// Parameter of CMD_BAUD_SWITCH: 115,200 bit/s.
inline constexpr std::uint8_t BAUD_115200 = 0x01;

// Response codes: the first byte after the opening flag of a response frame.
inline constexpr std::uint8_t RSP_ACK = 0x02;
inline constexpr std::uint8_t RSP_SEND_DATA = 0x03;
inline constexpr std::uint8_t NAK_INVALID_FCS = 0xA1;
inline constexpr std::uint8_t NAK_TOO_LARGE = 0xA2;
inline constexpr std::uint8_t NAK_INVALID_CMD = 0xA3;
inline constexpr std::uint8_t NAK_FAILED = 0xA4;

// Operator text of a negative answer; nullptr for codes without one.
constexpr const char* NakText(std::uint8_t code) {
    switch (code) {
        case NAK_INVALID_FCS:
            return "NAK INVALID FCS";
        case NAK_TOO_LARGE:
            return "NAK TOO LARGE";
        case NAK_INVALID_CMD:
            return "NAK INVALID CMD";
        case NAK_FAILED:
            return "NAK FAILED";
        default:
            return nullptr;
    }
}

// Payload limits.
inline constexpr std::size_t kMaxWriteData = 4096;         // CMD_WRITE_DATA data bytes
inline constexpr std::size_t kUsbCompressedChunk = 1020;   // block bytes per USB packet
inline constexpr std::size_t kUartCompressedChunk = 8192;  // block bytes per UART packet
inline constexpr std::size_t kLzoBlockSize = 0x10000;      // image bytes per LZO block

}  // namespace zembra
