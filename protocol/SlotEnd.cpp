#include "protocol/SlotEnd.h"

#include <algorithm>
#include <iterator>

#include "platform/Helpers.h"
#include "protocol/RunEvents.h"

namespace zembra {

int SlotEndCode(const SequenceEnd& end) {
    if (end.outcome == RunOutcome::Completed) return END_FINISHED;
    // A selected image did not open: the slot did not get the whole job.
    if (end.outcome == RunOutcome::ImageSkipped) return END_IMAGE_CHECK_FAILED;
    if (end.outcome == RunOutcome::ResetRefused) return END_RESET_REFUSED;
    // The steps up to the transfer are in the order of their endCodes.
    static_assert(END_START_FAILED + static_cast<int>(SequenceStep::Transfer) ==
                  END_TRANSFER_FAILED);
    return END_START_FAILED + static_cast<int>(std::min(end.step, SequenceStep::Transfer));
}

const char* EndCodeMeaning(int endCode) {
    static const char* const meanings[] = {"진행 중",
                                           "완료",
                                           "다운로드 시작 요청 실패",
                                           "버전 확인 실패",
                                           "모드 설정 실패",
                                           "다운로드 모듈 진입 실패",
                                           "이미지 파일 검사 실패",
                                           "삭제 실패",
                                           "전송 실패",
                                           "리셋 점프 거부",
                                           "사용자 종료"};
    static_assert(std::size(meanings) == END_STOPPED + 1);
    return endCode >= 0 && endCode <= END_STOPPED ? meanings[endCode] : "알 수 없음";
}

std::string SlotStatusText(int c) {
    const int a = c / 1000;
    if (a == 1) return "다운로드 종료";
    if (c / 10000 == 1) return "사용자 종료";
    if (a == 9) return "리셋 점프 오류 종료";
    const std::string suffix = (a >= 2 && a <= 8) ? " 오류 종료" : "";
    const int stage = c % 1000;
    std::string text;
    if (stage == 0) {
        text = "코드 다운로드";
    } else if (stage >= 1 && stage <= 6) {
        text = FormatText("폰트%d 다운로드", stage);
    } else if (stage == 10) {
        text = "코드 삭제중";
    } else if (stage >= 11 && stage <= 16) {
        text = FormatText("폰트%d 삭제중", stage - 10);
    }
    return text + suffix;
}

int LeaderSlot(const std::array<MultiSlotView, MULTI_SLOT_COUNT>& slots) {
    int leader = -1;
    int best = 0;
    for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot) {
        const MultiSlotView& view = slots[static_cast<std::size_t>(slot)];
        if (!view.hasWorker || !view.active) continue;
        const int key = view.currentImage * 1000 + view.percent;
        if (leader < 0 || key > best) {
            leader = slot;
            best = key;
        }
    }
    return leader;
}

RunEvents& NoRunEvents() {
    static RunEvents none;
    return none;
}

}  // namespace zembra
