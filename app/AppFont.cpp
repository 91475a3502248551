#include "app/AppFont.h"

#include <QCoreApplication>
#include <QFile>
#include <QFontDatabase>
#include <QStringList>

namespace zembra {

QFont WindowFont(int pixelSize, bool bold) {
    static const QString family = [] {
        // A font file beside the program (the Windows installer puts NanumGothic there) comes
        // first: the window then looks the same whatever fonts the computer has.
        const QString beside = QCoreApplication::applicationDirPath() + "/NanumGothic.ttf";
        if (QFile::exists(beside)) {
            const int id = QFontDatabase::addApplicationFont(beside);
            const QStringList loaded = QFontDatabase::applicationFontFamilies(id);
            if (!loaded.isEmpty()) return loaded.first();
        }
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
