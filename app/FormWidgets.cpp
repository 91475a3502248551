#include "app/FormWidgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <algorithm>

#include "app/AppFont.h"
#include "app/RichEditLog.h"
#include "job/ImageSlot.h"

namespace zembra {

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}
QString Q(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

// Name of a slot's control: prefix + "Code" / "Font<n>" + suffix.
QString SlotControlName(const char* prefix, int slot, const char* suffix) {
    const QString middle =
        slot == ImageSlot::Code ? QStringLiteral("Code") : QStringLiteral("Font%1").arg(slot);
    return Q(prefix) + middle + Q(suffix);
}

QLineEdit* MakeEdit(QWidget* parent, const QString& name, const QRect& geometry,
                    const QString& text, bool readOnly, const char* hint) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(name);
    edit->setGeometry(geometry);
    edit->setReadOnly(readOnly);
    // A field the operator cannot type in takes the focus by a click (to copy its text)
    // but is not a stop of the Tab key.
    if (readOnly) edit->setFocusPolicy(Qt::ClickFocus);
    edit->setCursorPosition(0);
    if (hint) edit->setToolTip(Q(hint));
    return edit;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QRect& geometry,
                        const char* caption, bool toggle) {
    auto* button = new QPushButton(Q(caption), parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    button->setCheckable(toggle);
    button->setFocusPolicy(toggle ? Qt::TabFocus : Qt::StrongFocus);
    return button;
}

QCheckBox* MakeCheck(QWidget* parent, const QString& name, const QRect& geometry,
                     const char* caption, bool checked) {
    auto* box = new QCheckBox(Q(caption), parent);
    box->setObjectName(name);
    box->setGeometry(geometry);
    box->setChecked(checked);
    return box;
}

QRadioButton* MakeRadio(QWidget* parent, const char* name, const QRect& geometry,
                        const char* caption, bool checked, const char* hint) {
    auto* radio = new QRadioButton(Q(caption), parent);
    radio->setObjectName(name);
    radio->setGeometry(geometry);
    radio->setChecked(checked);
    if (hint) radio->setToolTip(Q(hint));
    return radio;
}

QProgressBar* MakeGauge(QWidget* parent, const QString& name, const QRect& geometry) {
    auto* gauge = new QProgressBar(parent);
    gauge->setObjectName(name);
    gauge->setGeometry(geometry);
    gauge->setRange(0, 100);
    gauge->setValue(0);
    gauge->setAlignment(Qt::AlignCenter);
    return gauge;
}

QFrame* MakePanel(QWidget* parent, const char* name, const QRect& geometry) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    panel->setGeometry(geometry);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    return panel;
}

QGroupBox* MakeGroup(QWidget* parent, const char* name, const QRect& geometry,
                     const char* caption) {
    auto* group = new QGroupBox(Q(caption), parent);
    group->setObjectName(name);
    group->setGeometry(geometry);
    return group;
}

// Checks one radio button of a group of three, or none (ProtocolChoice::None).
void SetProtocol(ProtocolChoice choice, QRadioButton* autoButton, QRadioButton* pressButton,
                 QRadioButton* normalButton) {
    switch (choice) {
        case ProtocolChoice::Auto:
            autoButton->setChecked(true);
            return;
        case ProtocolChoice::Press:
            pressButton->setChecked(true);
            return;
        case ProtocolChoice::Normal:
            normalButton->setChecked(true);
            return;
        case ProtocolChoice::None:
            for (QRadioButton* b : {autoButton, pressButton, normalButton}) {
                b->setAutoExclusive(false);
                b->setChecked(false);
                b->setAutoExclusive(true);
            }
            return;
    }
}

ProtocolChoice ProtocolOf(const QRadioButton* autoButton, const QRadioButton* pressButton,
                          const QRadioButton* normalButton) {
    if (autoButton->isChecked()) return ProtocolChoice::Auto;
    if (pressButton->isChecked()) return ProtocolChoice::Press;
    if (normalButton->isChecked()) return ProtocolChoice::Normal;
    return ProtocolChoice::None;
}

void SetFontColour(QLineEdit* edit, std::uint32_t colour) {
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Text, ColourOf(colour));
    edit->setPalette(palette);
}

std::uint32_t WindowTextColour() {
    return WindowsColourOf(QApplication::palette().color(QPalette::Text));
}

std::uint32_t FontColour(const QLineEdit* edit) {
    return WindowsColourOf(edit->palette().color(QPalette::Text));
}

QPixmap LogoPixmap() {
    QPixmap pixmap(47, 462);
    QPainter painter(&pixmap);
    QLinearGradient gradient(0, 0, 0, 462);
    gradient.setColorAt(0.0, QColor(0x10, 0x2A, 0x5C));
    gradient.setColorAt(1.0, QColor(0x2E, 0x6F, 0xB8));
    painter.fillRect(pixmap.rect(), gradient);
    painter.setPen(QColor(0xFF, 0xFF, 0xFF));
    painter.setFont(WindowFont(26, true));
    painter.translate(33, 440);
    painter.rotate(-90);
    painter.drawText(0, 0, QStringLiteral("Zembra 4.2"));
    painter.resetTransform();
    painter.setPen(QColor(0xA8, 0xC8, 0xF0));
    painter.drawLine(6, 16, 40, 16);
    return pixmap;
}

void ElidedLabel::SetFullText(const QString& text) {
    if (text == full_) return;
    full_ = text;
    setToolTip(text);
    Elide();
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Elide();
}

void ElidedLabel::Elide() {
    const int room = contentsRect().width() - std::max(0, indent()) - 2 * margin();
    setText(fontMetrics().elidedText(full_.section('\n', 0, 0), Qt::ElideMiddle, room));
}

}  // namespace zembra
