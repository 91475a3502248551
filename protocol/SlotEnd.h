#pragma once

#include "protocol/DownloadSequence.h"

namespace zembra {

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

}  // namespace zembra
