#pragma once

#include <array>
#include <string>

#include "protocol/DownloadSequence.h"

namespace zembra {

// Slots of the multi download: ports VaComm1 ... VaComm8, workers, status display.
inline constexpr int MULTI_SLOT_COUNT = 8;

// How a multi slot's run ended (its endCode).
inline constexpr int END_IN_PROGRESS = 0;
inline constexpr int END_FINISHED = 1;
inline constexpr int END_START_FAILED = 2;
inline constexpr int END_VERSION_FAILED = 3;
inline constexpr int END_MODE_FAILED = 4;
inline constexpr int END_MODULE_FAILED = 5;
inline constexpr int END_IMAGE_CHECK_FAILED = 6;
inline constexpr int END_ERASE_FAILED = 7;
inline constexpr int END_TRANSFER_FAILED = 8;
inline constexpr int END_RESET_REFUSED = 9;  // every image sent, the reset jump refused
inline constexpr int END_STOPPED = 10;

// The slot's endCode for how its sequence ended.
int SlotEndCode(const SequenceEnd& end);

// The meaning of an endCode for reports ("완료", "시작 요청 실패", ...).
const char* EndCodeMeaning(int endCode);

// The slot label of a multi slot for slotStatusCode = currentImage + 10 x erasing +
// 1000 x endCode: "다운로드 종료" when finished, "사용자 종료" when stopped, otherwise the
// stage ("코드 다운로드", "폰트N 다운로드", "코드 삭제중", "폰트N 삭제중") followed by
// " 오류 종료" for a failed run (endCode 2-8); "리셋 점프 오류 종료" for endCode 9.
std::string SlotStatusText(int slotStatusCode);

// The code for SlotStatusText from a slot's status fields.
constexpr int SlotStatusCode(int currentImage, int erasing, int endCode) {
    return currentImage + 10 * erasing + 1000 * endCode;
}

// What the status display shows of one multi slot, as its run's events left it.
struct MultiSlotView {
    bool hasWorker = false;  // a run was started on the slot
    bool active = false;     // and has not ended
    int percent = 0;
    int currentImage = 0;
    int erasing = 0;
    int endCode = 0;
    std::string statusText;  // SlotStatusText of the fields
};

// The slot whose phone leads (the display marks its image and shows its percentage in the
// title): among the active slots the greatest currentImage x 1000 + percent, ties to the
// lower slot; -1 when no slot is active.
int LeaderSlot(const std::array<MultiSlotView, MULTI_SLOT_COUNT>& slots);

}  // namespace zembra
