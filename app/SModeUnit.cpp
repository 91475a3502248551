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
    const std::vector<GuardedFile> guarded =
        guardedFiles_ ? guardedFiles_() : std::vector<GuardedFile>{};
    const TraceFileVerdict verdict = CheckTraceFile(*chosen, guarded);
    if (!verdict.usable() || !trace_.Start(*chosen)) {  // Start empties the file
        dialogs_.ShowMessage(TraceRefusalText(*chosen, verdict), "오류", mb::kOk);
        CheckBoxFileDebug->setChecked(false);
    }
}

std::string TOKBottomDlgSMode::TraceRefusalText(const std::string& fileName,
                                                const TraceFileVerdict& verdict) {
    std::string why = "일반 파일이 아닙니다";
    if (verdict.kind == TraceFileVerdict::Kind::Guarded) {
        switch (verdict.clash->role) {
            case GuardedFile::Role::Image:
                why = "다운로드할 이미지 파일입니다";
                break;
            case GuardedFile::Role::Configuration:
                why = "환경 파일입니다";
                break;
            case GuardedFile::Role::Records:
                why = "다운로드 기록 파일입니다";
                break;
        }
    }
    return "디버깅 파일로 사용할 수 없습니다 (" + why + "): " + fileName;
}

}  // namespace zembra
