#include "job/JobCheck.h"

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
    return {};
}

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
    return result;
}

}  // namespace zembra
