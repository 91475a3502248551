#pragma once

#include <QLabel>
#include <QString>
#include <cstdint>
#include <string>

#include "job/DownloadSettings.h"

class QCheckBox;
class QFrame;
class QGroupBox;
class QLineEdit;
class QPixmap;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QRect;
class QWidget;

// The operator window's widget factories and small Qt helpers: each control is made with its
// object name, geometry, text and tool tip as the form lays it out.
namespace zembra {

// UTF-8 text as a QString.
QString Q(const char* utf8);
QString Q(const std::string& utf8);

// Name of a slot's control: prefix + "Code" / "Font<n>" + suffix.
QString SlotControlName(const char* prefix, int slot, const char* suffix);

QLineEdit* MakeEdit(QWidget* parent, const QString& name, const QRect& geometry,
                    const QString& text = {}, bool readOnly = true, const char* hint = nullptr);

QPushButton* MakeButton(QWidget* parent, const char* name, const QRect& geometry,
                        const char* caption, bool toggle = false);

QCheckBox* MakeCheck(QWidget* parent, const QString& name, const QRect& geometry,
                     const char* caption, bool checked);

QRadioButton* MakeRadio(QWidget* parent, const char* name, const QRect& geometry,
                        const char* caption, bool checked, const char* hint = nullptr);

QProgressBar* MakeGauge(QWidget* parent, const QString& name, const QRect& geometry);

QFrame* MakePanel(QWidget* parent, const char* name, const QRect& geometry);

QGroupBox* MakeGroup(QWidget* parent, const char* name, const QRect& geometry, const char* caption);

// Checks one radio button of a group of three, or none (ProtocolChoice::None).
void SetProtocol(ProtocolChoice choice, QRadioButton* autoButton, QRadioButton* pressButton,
                 QRadioButton* normalButton);

ProtocolChoice ProtocolOf(const QRadioButton* autoButton, const QRadioButton* pressButton,
                          const QRadioButton* normalButton);

// Font colour of a text field as a Windows colour value (path fields turn red).
void SetFontColour(QLineEdit* edit, std::uint32_t colour);
std::uint32_t FontColour(const QLineEdit* edit);
// The normal text colour of a field, as a Windows colour value.
std::uint32_t WindowTextColour();

QPixmap LogoPixmap();

// A one-line label for a text that may be longer than the label or hold several lines (a
// status with the server's reason): it shows the first line, elided in the middle to the
// label's width (again at every resize), and the whole text in its tool tip.
class ElidedLabel : public QLabel {
  public:
    explicit ElidedLabel(QWidget* parent) : QLabel(parent) {}
    void SetFullText(const QString& text);
    const QString& fullText() const { return full_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void Elide();
    QString full_;
};

}  // namespace zembra
