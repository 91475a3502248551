#pragma once

#include <string>

#include "protocol/SlotEnd.h"  // the endCodes and their meanings

namespace zembra {

// The slot label of a multi worker for slotStatusCode = currentImage + 10 x erasing +
// 1000 x endCode: "다운로드 종료" when finished, "사용자 종료" when stopped, otherwise the
// stage ("코드 다운로드", "폰트N 다운로드", "코드 삭제중", "폰트N 삭제중") followed by
// " 오류 종료" for a failed run (endCode 2-8); "리셋 점프 오류 종료" for endCode 9.
std::string SlotStatusText(int slotStatusCode);

// The code for SlotStatusText from a worker's status fields.
constexpr int SlotStatusCode(int currentImage, int erasing, int endCode) {
    return currentImage + 10 * erasing + 1000 * endCode;
}

}  // namespace zembra
