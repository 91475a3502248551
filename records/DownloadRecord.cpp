#include "records/DownloadRecord.h"

#include <chrono>
#include <ctime>

#include "job/FlashRanges.h"
#include "job/ImageSlot.h"
#include "platform/Helpers.h"
#include "platform/Random.h"
#include "records/Sha256.h"

namespace zembra {

std::string UtcNowIso() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const long long ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    const std::tm utc = UtcCalendarTime(seconds);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    return FormatText("%s.%03lldZ", text, ms);
}

std::string NewRandomUid() {
    std::uint8_t bytes[16];
    if (!SystemRandomBytes(bytes, sizeof bytes)) return {};
    std::string uid;
    for (const std::uint8_t b : bytes) uid += FormatText("%02x", b);
    return uid;
}

std::vector<RecordImage> RecordImagesOf(const DownloadJob& job, const ImageVersions* versions) {
    const std::vector<FlashRange> ranges = PlannedFlashRanges(job);
    std::vector<RecordImage> images;
    for (int slot = 0; slot < ImageSlot::Count; ++slot) {
        const std::string& path = job[slot].path;
        if (path.empty() || !FileExists(path)) continue;
        RecordImage image;
        image.slot = slot;
        image.fileName = LocalFileName(path);
        image.size = FileSizeOf(path);
        if (!versions || !versions->taken) {
            image.sha256 = Sha256OfFile(path);
        } else if (const auto& noted = versions->bySlot[static_cast<std::size_t>(slot)]) {
            image.sha256 = Sha256OfFile(path, &*noted);
        }
        for (const FlashRange& range : ranges) {
            if (range.slot != slot) continue;
            image.flashStart = range.start;
            image.flashEnd = range.end > range.start ? range.end - 1 : range.start;
        }
        images.push_back(image);
    }
    return images;
}

}  // namespace zembra
