#include "ports/VaCommMultiPorts.h"

#include "multi/MultiDownload.h"

namespace zembra {

void VaCommMultiPorts::Bind(MultiDownload* multi) {
    using Handler = void (MultiDownload::*)(void*, const void*, int);
    static constexpr Handler kHandlers[MULTI_SLOT_COUNT] = {
        &MultiDownload::VaComm1RxBuf, &MultiDownload::VaComm2RxBuf, &MultiDownload::VaComm3RxBuf,
        &MultiDownload::VaComm4RxBuf, &MultiDownload::VaComm5RxBuf, &MultiDownload::VaComm6RxBuf,
        &MultiDownload::VaComm7RxBuf, &MultiDownload::VaComm8RxBuf};
    for (int channel = 0; channel < MULTI_SLOT_COUNT; ++channel) {
        if (!multi) {
            ports_.SetMultiRxHandler(channel, nullptr);
            continue;
        }
        const Handler handler = kHandlers[channel];
        ports_.SetMultiRxHandler(
            channel, [multi, handler](void* sender, const std::uint8_t* data, std::size_t count) {
                (multi->*handler)(sender, data, static_cast<int>(count));
            });
    }
}

}  // namespace zembra
