#include "job/FlashRanges.h"

#include <cinttypes>

#include "job/ImageChecks.h"
#include "job/ImageSlot.h"
#include "platform/Helpers.h"

namespace zembra {
namespace {

// "폰트1 0x00200000~0x0020FFFF": the slot and its inclusive address range.
std::string RangeText(const FlashRange& r) {
    std::uint64_t last = r.end > r.start ? r.end - 1 : r.start;
    return FormatText("%s 0x%08" PRIX64 "~0x%08" PRIX64, SlotCaption(r.slot), r.start, last);
}

}  // namespace

std::vector<FlashRange> PlannedFlashRanges(const DownloadJob& job) {
    std::vector<FlashRange> ranges;
    for (int slot = 0; slot < ImageSlot::Count; ++slot) {
        const ImageSlot& image = job[slot];
        if (image.path.empty() || !FileExists(image.path)) continue;
        FlashRange r;
        r.slot = slot;
        r.fileSize = FileSizeOf(image.path);
        if (r.fileSize <= 0) continue;
        r.bytesSent = r.fileSize;
        if (IsFontSlot(slot)) {
            r.start = ParseNumber(image.addressText);
        } else if (!job.change) {
            CodeTrailer trailer = ReadCodeTrailer(image.path);
            if (trailer.status != CodeTrailer::Status::Ok ||
                trailer.bootLocation >= static_cast<std::uint64_t>(r.fileSize))
                continue;
            r.start = trailer.bootLocation;
            r.bytesSent = r.fileSize - trailer.bootLocation;
        }
        r.end = r.start + static_cast<std::uint64_t>(r.bytesSent);
        ranges.push_back(r);
    }
    return ranges;
}

std::vector<std::string> FlashRangeProblems(const DownloadJob& job) {
    const std::vector<FlashRange> ranges = PlannedFlashRanges(job);
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < ranges.size(); ++i)
        for (std::size_t j = i + 1; j < ranges.size(); ++j)
            if (ranges[i].start < ranges[j].end && ranges[j].start < ranges[i].end)
                lines.push_back(RangeText(ranges[i]) + " 영역이 " + RangeText(ranges[j]) +
                                " 영역과 겹칩니다");
    for (const FlashRange& r : ranges) {
        if (static_cast<std::uint64_t>(r.bytesSent) > 0xFFFFFFFFull)
            lines.push_back(
                FormatText("%s 파일 크기 0x%" PRIX64 "가 삭제 요청 길이(32비트)보다 큽니다",
                           SlotCaption(r.slot), static_cast<std::uint64_t>(r.bytesSent)));
        else if (r.end > FLASH_ADDRESS_SPACE)
            lines.push_back(RangeText(r) + " 영역이 4GB 주소 공간을 넘습니다");
    }
    return lines;
}

}  // namespace zembra
