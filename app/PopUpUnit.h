#pragma once

#include <QDialog>
#include <string>

class QFrame;
class QPushButton;
class QTextEdit;

namespace zembra {

// The information pop-up: a free text from the configuration file, shown modally after a
// load that carries one and on the "정보" buttons. Created once at start-up, hidden until
// shown; its text survives until the next load that contains the pop-up entry.
class TOKBottomDlgPopUp : public QDialog {
    Q_OBJECT
  public:
    explicit TOKBottomDlgPopUp(QWidget* parent = nullptr);

    // Empties RichEditPopUp and adds text as its only line.
    void SetText(const std::string& text);
    // The pane's whole text, lines separated by "\n".
    std::string Text() const;

  private:
    QFrame* Bevel1;
    QTextEdit* RichEditPopUp;
    QPushButton* OKBtn;
};

}  // namespace zembra
