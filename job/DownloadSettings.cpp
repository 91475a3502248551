#include "job/DownloadSettings.h"

namespace zembra {

void ApplyInitialValues(DownloadSettings& settings) {
    // The member initialisers are the initial values.
    settings = DownloadSettings{};
}

LinkProtocolCode MakeLinkProtocolCode(Link link, ProtocolChoice choice) {
    LinkProtocolCode code = link == Link::Usb ? 0x100 : 0x200;
    switch (choice) {
        case ProtocolChoice::Auto:
            return code | 0x01;
        case ProtocolChoice::Press:
            return code | 0x02;
        case ProtocolChoice::Normal:
            return code | 0x04;
        case ProtocolChoice::None:
            break;
    }
    return code;
}

LinkProtocolCode MakeLinkProtocolCode(Link link, const DownloadSettings& settings) {
    return MakeLinkProtocolCode(link,
                                link == Link::Usb ? settings.usbProtocol : settings.serialProtocol);
}

}  // namespace zembra
