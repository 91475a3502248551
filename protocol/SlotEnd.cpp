#include "protocol/SlotEnd.h"

#include <algorithm>
#include <iterator>

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

RunEvents& NoRunEvents() {
    static RunEvents none;
    return none;
}

}  // namespace zembra
