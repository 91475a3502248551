#pragma once

#include <cstdint>
#include <string>

namespace zembra {

// One group of three protocol radio buttons. None: no button of the group is checked.
enum class ProtocolChoice { Auto, Press, Normal, None };

// The link choice of the main window (RadioButtonUSB / RadioButtonSerial).
enum class Link { Usb, Serial };

// The advanced settings panel. Time values are the texts the edit fields hold (converted at
// Start, see StartSnapshot.h); flags are check boxes; protocol choices are radio groups.
// The member initialisers are the values the window starts with.
struct DownloadSettings {
    ProtocolChoice usbProtocol = ProtocolChoice::Auto;     // auto / PPV / normal USB
    ProtocolChoice serialProtocol = ProtocolChoice::Auto;  // auto / Press / normal UART
    std::string packetResponseWaitMs = "20000";            // EditResponseWaitTime
    std::string normalResponseWaitMs = "500";              // EditNormalCMDWaitTime
    std::string cmdGapMs = "200";                          // EditCmd2CmdWaitTime
    std::string eraseWaitSec = "600";                      // EditEraseWaitTime
    std::string multiEraseExcessSec = "300";               // EditMultiEraseMeanTime
    bool showInvalidFcsNak = false;                        // show NAKs of invalid FCS
    bool checkBinSize64K = true;                           // image sizes must be whole 64 KiB
    bool allowFont0Address = false;                        // font 0 address allowed
    bool autoHexPrefix = true;                             // "0x" added to addresses

    bool operator==(const DownloadSettings&) const = default;
};

// The initial-values command: sets the eleven settings to their initial values and
// touches nothing else (not the link, not the one/multi choice, not the job).
void ApplyInitialValues(DownloadSettings& settings);

// The 16-bit link-and-protocol code: high byte the link, low byte the protocol bit.
using LinkProtocolCode = std::uint16_t;

inline constexpr LinkProtocolCode USB_NONE = 0x100;  // USB link, no protocol button checked
inline constexpr LinkProtocolCode USB_AUTO = 0x101;
inline constexpr LinkProtocolCode USB_PPV = 0x102;
inline constexpr LinkProtocolCode USB_NORMAL = 0x104;
inline constexpr LinkProtocolCode UART_NONE = 0x200;  // serial link, no protocol button checked
inline constexpr LinkProtocolCode UART_AUTO = 0x201;
inline constexpr LinkProtocolCode UART_PRESS = 0x202;
inline constexpr LinkProtocolCode UART_NORMAL = 0x204;
// The code before the first Start.
inline constexpr LinkProtocolCode INITIAL_LINK_PROTOCOL = USB_NONE;

// Combines a link with the protocol choice of that link.
LinkProtocolCode MakeLinkProtocolCode(Link link, ProtocolChoice choice);

// The code for the link, taking the protocol choice of that link from the settings.
LinkProtocolCode MakeLinkProtocolCode(Link link, const DownloadSettings& settings);

}  // namespace zembra
