#include "sim/PhoneWire.h"

#include <algorithm>

#include "platform/Helpers.h"

namespace zembra {

std::uint16_t PhoneCrc16(const std::uint8_t* data, std::size_t length, std::uint16_t crc) {
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408)
                            : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

std::vector<std::uint8_t> PhoneUnescape(const std::vector<std::uint8_t>& wire, std::string* fault) {
    std::vector<std::uint8_t> out;
    out.reserve(wire.size());
    fault->clear();
    for (std::size_t j = 0; j < wire.size(); ++j) {
        std::uint8_t b = wire[j];
        if (b == kPhoneEscape) {
            if (j + 1 == wire.size()) {
                if (fault->empty()) *fault = "escape byte right before the closing flag";
                break;
            }
            b = static_cast<std::uint8_t>(wire[++j] ^ 0x20);
            if (!PhoneMustEscape(b) && fault->empty())
                *fault = FormatText("needless escape of 0x%02X at byte %zu", b, j);
        } else if (b == 0x7F && fault->empty()) {
            *fault = FormatText("unescaped 0x7F at byte %zu", j + 1);
        }
        out.push_back(b);
    }
    return out;
}

bool PhoneHasControlMarker(const std::uint8_t* block, std::size_t length) {
    return length >= kPhoneControlMarker.size() &&
           std::equal(kPhoneControlMarker.begin(), kPhoneControlMarker.end(), block);
}

std::vector<std::uint8_t> PhoneAckEcho(const std::uint8_t* block, std::size_t length) {
    const std::uint16_t crc = PhoneCrc16(block, length);
    std::vector<std::uint8_t> echo{kPhoneFlag, 0x02};
    for (const std::uint8_t b :
         {static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc & 0xFF)}) {
        if (PhoneMustEscape(b)) echo.push_back(kPhoneEscape);
        echo.push_back(PhoneMustEscape(b) ? static_cast<std::uint8_t>(b ^ 0x20) : b);
    }
    echo.push_back(kPhoneFlag);
    return echo;
}

}  // namespace zembra
