#pragma once

#include <QDialog>
#include <string>

#include "app/DebugTrace.h"

class QCheckBox;
class QPushButton;

namespace zembra {

class DialogHost;

// The hidden options menu, opened only by a double-click on the logo strip. Its two check
// boxes switch the debug trace on and off; nothing of it is saved, so every program start
// begins with the trace off. Created once at start-up; keeps its state between openings.
class TOKBottomDlgSMode : public QDialog {
    Q_OBJECT
  public:
    // dialogs: the seam through which the trace file's save dialog is asked.
    explicit TOKBottomDlgSMode(DialogHost& dialogs, QWidget* parent = nullptr);

    // The trace switch as the engines' trace points read it (main thread only).
    DebugTraceOptions TraceOptions() const;
    const std::string& debugFileName() const { return debugFileName_; }

    // CheckBoxFileDebug ticked or unticked (also when ticked from code).
    void CheckBoxFileDebugClick();

  private:
    DialogHost& dialogs_;
    std::string debugFileName_;
    QCheckBox* CheckBoxFileDebug;
    QCheckBox* CheckBoxDebugWriteInfo;
    QPushButton* OKBtn;
};

}  // namespace zembra
