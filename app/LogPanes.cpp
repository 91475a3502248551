#include "app/LogPanes.h"

#include "app/AppFont.h"
#include "app/MainFormView.h"
#include "app/RichEditLog.h"
#include "protocol/SequenceHost.h"

namespace zembra {

namespace {

void WriteBanner(RichEditLog* pane) {
    pane->setFont(WindowFont());
    pane->AppendLine("Zembra 4", COLOUR_BLACK);
    pane->AppendLine(" 휴대폰 펌웨어 다운로드 도구 (코드 1개, 폰트 6개, 최대 8대 동시)",
                     COLOUR_BLACK);
    pane->AppendLine(" 문의: Zembra 개발팀 - 사용법과 연락처는 README.md를 보세요", COLOUR_BLACK);
    pane->AppendLine("", COLOUR_BLACK);
}

}  // namespace

void LogPanes::MakePane(QWidget* panel, bool single, const QRect& geometry) {
    auto* pane = new RichEditLog(panel);
    pane->setObjectName(single ? "RichEditOutput" : "RichEdit21");
    pane->setGeometry(geometry);
    WriteBanner(pane);
    (single ? RichEditOutput : RichEdit21) = pane;
    QObject::connect(pane, &QTextEdit::textChanged, pane,
                     [this, single] { single ? RichEditOutputChange() : RichEdit21Change(); });
}

void LogPanes::AppendLine(LogPane pane, const std::string& text, std::uint32_t colour) {
    const bool front = pane == LogPane::Front && form_.IsSingleMode();
    (front ? RichEditOutput : RichEdit21)->AppendLine(text, colour);
}

void LogPanes::RichEditOutputChange() {
    // The pane takes the focus so that its caret, at the end of the newest line, keeps that
    // line in view. Only the pane of the panel in front does: PanelMulti stays visible
    // underneath PanelOne, and the focus must not go to a pane the operator cannot see.
    if (form_.IsSingleMode() && RichEditOutput->isVisible()) RichEditOutput->setFocus();
    RichEditOutput->ensureCursorVisible();
}

void LogPanes::RichEdit21Change() {
    if (!form_.IsSingleMode() && RichEdit21->isVisible()) RichEdit21->setFocus();
    RichEdit21->ensureCursorVisible();
}

}  // namespace zembra
