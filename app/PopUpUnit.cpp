#include "app/PopUpUnit.h"

#include <QFrame>
#include <QPalette>
#include <QPushButton>
#include <QTextEdit>

namespace zembra {

namespace {
// Five lines: an empty line, the name, an empty line and a two-line note saying that the
// configuration file's [로드시띄우는창] entry is shown here.
const char* const kInitialText =
    "\n"
    "                            Zembra\n"
    "\n"
    " 이곳은 환경파일의 [로드시띄우는창]을 수정하면 \n"
    "나타나는 곳입니다.";
}  // namespace

TOKBottomDlgPopUp::TOKBottomDlgPopUp(QWidget* parent) : QDialog(parent) {
    setObjectName("OKBottomDlgPopUp");
    setWindowTitle(QStringLiteral("정보"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(313, 214);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName("Bevel1");
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Bevel1->setGeometry(8, 8, 297, 161);

    RichEditPopUp = new QTextEdit(this);
    RichEditPopUp->setObjectName("RichEditPopUp");
    RichEditPopUp->setGeometry(12, 12, 289, 153);
    RichEditPopUp->setReadOnly(true);
    RichEditPopUp->setFrameStyle(QFrame::NoFrame);
    RichEditPopUp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEditPopUp->setAcceptRichText(false);
    QPalette palette = RichEditPopUp->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    RichEditPopUp->setPalette(palette);
    RichEditPopUp->setPlainText(QString::fromUtf8(kInitialText));

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setGeometry(119, 178, 75, 25);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
}

void TOKBottomDlgPopUp::SetText(const std::string& text) {
    RichEditPopUp->setPlainText(QString::fromStdString(text));
}

std::string TOKBottomDlgPopUp::Text() const {
    return RichEditPopUp->toPlainText().toStdString();
}

}  // namespace zembra
