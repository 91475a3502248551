#include "app/SModeUnit.h"

#include <QCheckBox>
#include <QPushButton>
#include <cerrno>
#include <cstdio>

#include "app/DialogHost.h"

namespace zembra {

TOKBottomDlgSMode::TOKBottomDlgSMode(DialogHost& dialogs, QWidget* parent)
    : QDialog(parent), dialogs_(dialogs) {
    setObjectName("OKBottomDlgSMode");
    setWindowTitle(QStringLiteral("숨은메뉴"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(313, 214);

    CheckBoxFileDebug = new QCheckBox(QStringLiteral("디버깅정보 파일로저장"), this);
    CheckBoxFileDebug->setObjectName("CheckBoxFileDebug");
    CheckBoxFileDebug->setGeometry(48, 48, 220, 22);

    CheckBoxDebugWriteInfo = new QCheckBox(QStringLiteral("Write 데이터 저장"), this);
    CheckBoxDebugWriteInfo->setObjectName("CheckBoxDebugWriteInfo");
    CheckBoxDebugWriteInfo->setGeometry(48, 84, 220, 22);

    OKBtn = new QPushButton(QStringLiteral("닫기"), this);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setGeometry(119, 178, 75, 25);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);

    connect(CheckBoxFileDebug, &QCheckBox::toggled, this, [this] { CheckBoxFileDebugClick(); });
}

DebugTraceOptions TOKBottomDlgSMode::TraceOptions() const {
    DebugTraceOptions options;
    options.enabled = CheckBoxFileDebug->isChecked();
    options.writeData = CheckBoxDebugWriteInfo->isChecked();
    options.fileName = debugFileName_;
    return options;
}

void TOKBottomDlgSMode::CheckBoxFileDebugClick() {
    if (!CheckBoxFileDebug->isChecked()) return;  // trace off; the file stays as written

    FileDialogRequest request;
    request.name = "SaveDialogFileDebug";
    request.filter = "TXT|*.TXT|All|*.*";
    request.defaultName = DEFAULT_DEBUG_FILE_NAME;
    request.defaultExt = "TXT";
    request.confirmOverwrite = true;
    const std::optional<std::string> chosen = dialogs_.GetSaveFileName(request);
    if (!chosen) {
        CheckBoxFileDebug->setChecked(false);  // runs this handler again: nothing more
        return;
    }
    debugFileName_ = *chosen;
    // The trace starts empty. A missing file is not an error; a file that cannot be removed
    // is emptied instead so that old lines do not mix with the new trace.
    if (std::remove(debugFileName_.c_str()) != 0 && errno != ENOENT) {
        if (std::FILE* f = std::fopen(debugFileName_.c_str(), "w")) std::fclose(f);
    }
}

}  // namespace zembra
