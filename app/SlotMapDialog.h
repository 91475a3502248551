#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "ports/SlotMap.h"

class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;
class QTimer;

namespace zembra {

// "슬롯 지정": teaches the slot map slot by slot ("슬롯 N 포트에 폰을 연결하세요"): the first phone
// that appears in the serial-device map is bound to the slot asked for and saved at once (a
// phone at a port bound to another slot is refused), Esc or "건너뛰기" skips a slot; then the
// table of slots, their ports and the phones at them now. Looks at the map every 200 ms while
// shown (ports/SlotMap.h does the teaching, as for zembra-cli slots learn).
class TSlotMapDialog : public QDialog {
    Q_OBJECT
  public:
    explicit TSlotMapDialog(QWidget* parent = nullptr, int slotCount = 8);
    ~TSlotMapDialog() override;

    // Begins again from slot 1 with the slot map file as it is now.
    void Restart();
    // One look at the serial-device map (the timer's).
    void Look();

    QLabel* prompt() const { return LabelSlotPrompt; }
    QListWidget* log() const { return ListSlotLog; }
    QTableWidget* table() const { return TableSlots; }

  public:
    // Esc: skips the slot asked for; once every slot was asked, closes.
    void reject() override;

  private:
    void Skip();
    void ShowState();
    void AddLine(const std::string& line, bool red);

    int slotCount_;
    std::unique_ptr<SlotLearner> learner_;
    std::string error_;  // why the slot map cannot be taught (file unreadable, not saved)
    QLabel* LabelSlotPrompt;
    QListWidget* ListSlotLog;
    QTableWidget* TableSlots;
    QPushButton* BitBtnSlotSkip;
    QPushButton* BitBtnSlotClose;
    QTimer* TimerSlotLook;
};

}  // namespace zembra
