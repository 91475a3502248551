#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "protocol/DebugTrace.h"

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
    // dialogs: the seam through which the trace file's save dialog is asked. trace: the
    // process-wide trace that the port writes and the receive handler feed; the two check
    // boxes are its only switches (it must outlive the menu).
    TOKBottomDlgSMode(DialogHost& dialogs, DebugTrace& trace, QWidget* parent = nullptr);

    // The files the trace must never empty (the images, the configuration files, the records
    // database), asked when a trace file is chosen.
    void SetGuardedFiles(std::function<std::vector<GuardedFile>()> guarded) {
        guardedFiles_ = std::move(guarded);
    }

    // CheckBoxFileDebug ticked or unticked (also when ticked from code). A chosen file that
    // CheckTraceFile refuses is named in an error box and the box is unticked again.
    void CheckBoxFileDebugClick();

  private:
    static std::string TraceRefusalText(const std::string& fileName,
                                        const TraceFileVerdict& verdict);

    DialogHost& dialogs_;
    DebugTrace& trace_;
    std::function<std::vector<GuardedFile>()> guardedFiles_;
    QCheckBox* CheckBoxFileDebug;
    QCheckBox* CheckBoxDebugWriteInfo;
    QPushButton* OKBtn;
};

}  // namespace zembra
