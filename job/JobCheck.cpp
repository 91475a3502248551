#include "job/JobCheck.h"

#include <algorithm>

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
    if (code >= 61 && code <= 66)
        return FormatText(
            "폰트%d 시작 주소가 올바른 숫자가 아닙니다 (16진수는 0x로 시작하고 뒤에 "
            "다른 문자가 없어야 합니다)",
            code - 60);
    if (code >= 71 && code <= 76)
        return FormatText("폰트%d 시작 주소는 음수가 될수 없습니다", code - 70);
    if (code >= 81 && code <= 86)
        return FormatText("폰트%d 시작 주소에 0x 다음의 숫자가 없습니다", code - 80);
    if (code >= 90 && code <= 96)
        return FormatText("%s 파일의 크기가 0입니다", SlotCaption(code - 90));
    if (code >= 50 && code <= 56)
        return FormatText("%s 파일이 플래시 주소 범위(0xFFFFFFFF)를 넘습니다",
                          SlotCaption(code - 50));
    return {};
}

namespace {

// The engines and the phone count in 32 bits: an address written beyond them, or an image
// that would run past the last address, would wrap and erase the start of the flash.
// addressRefused: fonts whose address text was refused already (no further code for them).
void CheckAddressRange(const DownloadJob& job, const bool (&addressRefused)[ImageSlot::Count],
                       JobCheckResult& result) {
    bool skip[ImageSlot::Count] = {};
    for (int n = 1; n <= 6; ++n) {
        const ImageSlot& s = job[FontSlot(n)];
        skip[n] = addressRefused[n];
        if (skip[n] || s.path.empty() || ParseWideNumber(s.addressText) < FLASH_ADDRESS_SPACE)
            continue;
        skip[n] = true;
        result.codes.push_back(40 + n);
    }
    for (const FlashRange& r : PlannedFlashRanges(job))
        if (!skip[r.slot] && (r.end > FLASH_ADDRESS_SPACE ||
                              static_cast<std::uint64_t>(r.bytesSent) > 0xFFFFFFFFull))
            result.codes.push_back(50 + r.slot);
}

// The code of an address text that is not a well-formed number other than empty, else 0.
int MalformedAddressCode(int n, const std::string& text) {
    switch (CheckAddressText(text)) {
        case AddressTextProblem::NotANumber:
            return 60 + n;
        case AddressTextProblem::Negative:
            return 70 + n;
        case AddressTextProblem::NoDigits:
            return 80 + n;
        case AddressTextProblem::Empty:
        case AddressTextProblem::None:
            break;
    }
    return 0;
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
    if (std::all_of(job.slots.begin(), job.slots.end(),
                    [](const ImageSlot& s) { return s.path.empty(); }))
        result.codes.push_back(20);
    const bool zeroAllowed = kind == StartKind::Single && settings.allowFont0Address;
    bool addressRefused[ImageSlot::Count] = {};
    for (int n = 1; n <= 6; ++n) {
        const ImageSlot& s = job[FontSlot(n)];
        if (s.path.empty()) continue;
        int code = 0;
        // An empty address reads as 0: refused as such unless 0 is allowed, when it is
        // asked for instead.
        if (CheckAddressText(s.addressText) == AddressTextProblem::Empty)
            code = zeroAllowed ? 30 + n : 20 + n;
        else if (const int malformed = MalformedAddressCode(n, s.addressText))
            code = malformed;
        else if (!zeroAllowed && snapshot.address[FontSlot(n)] == 0)
            code = 20 + n;
        addressRefused[n] = code != 0;
        if (code != 0) result.codes.push_back(code);
    }
    CheckAddressRange(job, addressRefused, result);
    // An empty image has nothing to erase or write; found only after the images before it
    // were written, it would leave the phone half flashed.
    for (int slot = ImageSlot::Code; slot < ImageSlot::Count; ++slot) {
        const ImageSlot& s = job[slot];
        if (!s.path.empty() && IsReadableRegularFile(s.path) && FileSizeOf(s.path) == 0)
            result.codes.push_back(90 + slot);
    }
    return result;
}

}  // namespace zembra
