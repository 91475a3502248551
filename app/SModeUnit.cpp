#include "app/SModeUnit.h"

#include <QCheckBox>
#include <QPushButton>

#include "app/DialogHost.h"

namespace zembra {

TOKBottomDlgSMode::TOKBottomDlgSMode(DialogHost& dialogs, DebugTrace& trace, QWidget* parent)
    : QDialog(parent), dialogs_(dialogs), trace_(trace) {
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

    // The boxes start unticked; the trace follows them from here on.
    trace_.Stop();
    trace_.SetWriteData(false);
    connect(CheckBoxFileDebug, &QCheckBox::toggled, this, [this] { CheckBoxFileDebugClick(); });
    connect(CheckBoxDebugWriteInfo, &QCheckBox::toggled, this,
            [this](bool on) { trace_.SetWriteData(on); });
}

void TOKBottomDlgSMode::CheckBoxFileDebugClick() {
    if (!CheckBoxFileDebug->isChecked()) {
        trace_.Stop();  // no further lines; the file stays as written
        return;
    }
    FileDialogRequest request;
    request.name = "SaveDialogFileDebug";
    request.filter = "TXT|*.TXT|All|*.*";
    request.defaultName = DEFAULT_TRACE_FILE;
    request.defaultExt = "TXT";
    request.confirmOverwrite = true;
    const std::optional<std::string> chosen = dialogs_.GetSaveFileName(request);
    if (!chosen) {
        CheckBoxFileDebug->setChecked(false);  // runs this handler again: trace off
        return;
    }
    trace_.Start(*chosen);  // deletes an existing file so that the trace starts empty
}

}  // namespace zembra
