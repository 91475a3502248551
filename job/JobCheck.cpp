#include "job/JobCheck.h"

#include "job/FlashRanges.h"
#include "job/ImageChecks.h"
#include "platform/Helpers.h"

namespace zembra {

std::string JobErrorText(int code) {
    if (code == 10)
        return "코드 파일 선택에 오류가 있습니다. 정의된 파일과 파일명이 일치하지 않습니다.";
    if (code >= 1 && code <= 6)
        return FormatText(
            "폰트%d 파일 선택에 오류가 있습니다. 정의된 파일과 파일명이 일치하지 않습니다.", code);
    if (code == 20) return "선택된 파일이 없습니다. 파일을 선택하세요";
    if (code >= 21 && code <= 26)
        return FormatText("폰트%d 시작 주소는 0이 될수 없습니다", code - 20);
    if (code >= 31 && code <= 36) return FormatText("폰트%d 시작 주소를 입력하세요", code - 30);
    if (code >= 41 && code <= 46)
        return FormatText("폰트%d 시작 주소가 0xFFFFFFFF를 넘습니다", code - 40);
    if (code >= 50 && code <= 56)
        return FormatText("%s 파일이 플래시 주소 범위(0xFFFFFFFF)를 넘습니다",
                          SlotCaption(code - 50));
    return {};
}

namespace {

// The engines and the phone count in 32 bits: an address written beyond them, or an image
// that would run past the last address, would wrap and erase the start of the flash.
void CheckAddressRange(const DownloadJob& job, JobCheckResult& result) {
    bool addressBeyond[ImageSlot::Count] = {};
    for (int n = 1; n <= 6; ++n) {
        const ImageSlot& s = job[FontSlot(n)];
        addressBeyond[n] = !s.path.empty() && ParseWideNumber(s.addressText) >= FLASH_ADDRESS_SPACE;
        if (addressBeyond[n]) result.codes.push_back(40 + n);
    }
    for (const FlashRange& r : PlannedFlashRanges(job))
        if (!addressBeyond[r.slot] && (r.end > FLASH_ADDRESS_SPACE ||
                                       static_cast<std::uint64_t>(r.bytesSent) > 0xFFFFFFFFull))
            result.codes.push_back(50 + r.slot);
}

}  // namespace

JobCheckResult CheckJob(const DownloadJob& job, const StartSnapshot& snapshot,
                        const DownloadSettings& settings, StartKind kind) {
    JobCheckResult result;
    if (job.configLoaded) {
        for (int slot = ImageSlot::Code; slot < ImageSlot::Count; ++slot) {
            const ImageSlot& s = job[slot];
            bool missing = !s.expectedName.empty() && s.path.empty();
            bool mismatch = !s.path.empty() && !ExpectedNameRule(s.path, s.expectedName);
            if (missing || mismatch) result.codes.push_back(slot == ImageSlot::Code ? 10 : slot);
        }
    }
    if (AllPathsEmpty(job)) result.codes.push_back(20);
    bool emptyTextOnly = kind == StartKind::Single && settings.allowFont0Address;
    for (int n = 1; n <= 6; ++n) {
        const ImageSlot& s = job[FontSlot(n)];
        if (s.path.empty()) continue;
        if (emptyTextOnly) {
            if (s.addressText.empty()) result.codes.push_back(30 + n);
        } else if (snapshot.address[FontSlot(n)] == 0) {
            result.codes.push_back(20 + n);
        }
    }
    CheckAddressRange(job, result);
    return result;
}

}  // namespace zembra
