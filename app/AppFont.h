#pragma once

#include <QFont>

namespace zembra {

// The windows' font: a proportional Korean UI font at 12 pixels (NanumGothic.ttf beside the
// program when it is there, else NanumGothic from fonts-nanum), so that Hangul renders
// whatever the desktop's default font is.
QFont WindowFont(int pixelSize = 12, bool bold = false);

}  // namespace zembra
