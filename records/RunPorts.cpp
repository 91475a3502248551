#include "records/RunPorts.h"

namespace zembra {

void TalliedPorts::WriteSingle(const std::uint8_t* bytes, std::size_t count) {
    VaCommPorts::WriteSingle(bytes, count);
    tallies_.single.Written(bytes, count);
}

bool TalliedPorts::SetSingleReceiveTap(
    std::function<void(const std::uint8_t* data, std::size_t count)> tap) {
    if (!tap) return VaCommPorts::SetSingleReceiveTap(nullptr);
    return VaCommPorts::SetSingleReceiveTap(
        [this, tap = std::move(tap)](const std::uint8_t* data, std::size_t count) {
            tallies_.single.Received(data, count);
            tap(data, count);
        });
}

void TalliedMultiPorts::WriteMulti(int channel, const std::uint8_t* bytes, std::size_t count) {
    VaCommMultiPorts::WriteMulti(channel, bytes, count);
    tallies_.multi[static_cast<std::size_t>(channel) % MULTI_SLOT_COUNT].Written(bytes, count);
}

void TalliedMultiPorts::BindCounted(MultiDownload* multi) {
    for (int channel = 0; channel < MULTI_SLOT_COUNT; ++channel) {
        if (!multi) {
            ports().SetMultiRxHandler(channel, nullptr);
            continue;
        }
        LinkTally& tally = tallies_.multi[static_cast<std::size_t>(channel)];
        ports().SetMultiRxHandler(
            channel, [multi, channel, &tally](void*, const std::uint8_t* data, std::size_t count) {
                tally.Received(data, count);
                multi->SlotRxBuf(channel, data, static_cast<int>(count));
            });
    }
}

}  // namespace zembra
