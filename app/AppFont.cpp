#include "app/AppFont.h"

#include <QFontDatabase>
#include <QStringList>

namespace zembra {

QFont WindowFont(int pixelSize, bool bold) {
    static const QString family = [] {
        const QStringList families = QFontDatabase::families();
        for (const char* wanted :
             {"NanumGothic", "NanumBarunGothic", "Noto Sans CJK KR", "Baekmuk Gulim", "UnDotum"}) {
            if (families.contains(QString::fromLatin1(wanted))) return QString::fromLatin1(wanted);
        }
        return QString();
    }();
    QFont font;
    if (!family.isEmpty()) font.setFamily(family);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

}  // namespace zembra
