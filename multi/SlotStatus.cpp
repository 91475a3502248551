#include "multi/SlotStatus.h"

#include "platform/Helpers.h"

namespace zembra {

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

}  // namespace zembra
