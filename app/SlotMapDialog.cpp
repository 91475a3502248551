#include "app/SlotMapDialog.h"

#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/AppFont.h"
#include "app/FormWidgets.h"
#include "platform/Helpers.h"

namespace zembra {

TSlotMapDialog::TSlotMapDialog(QWidget* parent, int slotCount)
    : QDialog(parent), slotCount_(slotCount) {
    setObjectName("SlotMapDialog");
    setWindowTitle("슬롯 지정");
    resize(520, 460);
    auto* layout = new QVBoxLayout(this);
    LabelSlotPrompt = new QLabel(this);
    LabelSlotPrompt->setObjectName("LabelSlotPrompt");
    LabelSlotPrompt->setFont(WindowFont(14, true));
    ListSlotLog = new QListWidget(this);
    ListSlotLog->setObjectName("ListSlotLog");
    TableSlots = new QTableWidget(0, 3, this);
    TableSlots->setObjectName("TableSlots");
    TableSlots->setHorizontalHeaderLabels({"슬롯", "포트 위치", "현재 폰"});
    TableSlots->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TableSlots->verticalHeader()->setVisible(false);
    TableSlots->horizontalHeader()->setStretchLastSection(true);
    auto* buttons = new QHBoxLayout;
    BitBtnSlotSkip = new QPushButton("건너뛰기 (Esc)", this);
    BitBtnSlotSkip->setObjectName("BitBtnSlotSkip");
    BitBtnSlotClose = new QPushButton("닫기", this);
    BitBtnSlotClose->setObjectName("BitBtnSlotClose");
    BitBtnSlotClose->setAutoDefault(false);
    BitBtnSlotSkip->setAutoDefault(false);
    buttons->addStretch();
    buttons->addWidget(BitBtnSlotSkip);
    buttons->addWidget(BitBtnSlotClose);
    layout->addWidget(LabelSlotPrompt);
    layout->addWidget(ListSlotLog, 1);
    layout->addWidget(TableSlots, 2);
    layout->addLayout(buttons);
    connect(BitBtnSlotSkip, &QPushButton::clicked, this, [this] { Skip(); });
    connect(BitBtnSlotClose, &QPushButton::clicked, this, &QDialog::accept);
    TimerSlotLook = new QTimer(this);
    TimerSlotLook->setObjectName("TimerSlotLook");
    TimerSlotLook->setInterval(200);
    connect(TimerSlotLook, &QTimer::timeout, this, [this] { Look(); });
    Restart();
}

TSlotMapDialog::~TSlotMapDialog() = default;

void TSlotMapDialog::Restart() {
    ListSlotLog->clear();
    const SlotMapFile file = ReadSlotMap(SlotMapPath());
    error_ = file.error;
    learner_ = std::make_unique<SlotLearner>(file.map, slotCount_);
    if (!error_.empty()) AddLine(error_, true);
    ShowState();
    Look();  // the phones present now are not new
    if (error_.empty()) TimerSlotLook->start();
}

void TSlotMapDialog::Look() {
    if (!error_.empty() || learner_->Done()) return;
    const auto devices = ReadSerialDeviceMap();
    std::vector<std::string> lines;
    const bool bound = learner_->Look(
        devices ? PhonesWithLocations(*devices) : std::vector<LocatedPhone>{}, lines);
    for (const std::string& line : lines) AddLine(line, !bound || line != lines.back());
    if (!bound) return;
    error_ = WriteSlotMap(SlotMapPath(), learner_->map());
    if (!error_.empty()) AddLine("슬롯 맵을 저장하지 못했습니다: " + error_, true);
    ShowState();
}

void TSlotMapDialog::reject() {
    if (error_.empty() && !learner_->Done())
        Skip();
    else
        QDialog::reject();
}

void TSlotMapDialog::Skip() {
    if (!error_.empty() || learner_->Done()) return;
    AddLine(FormatText("슬롯 %d: 건너뜀", learner_->slot()), false);
    learner_->Skip();
    ShowState();
}

void TSlotMapDialog::ShowState() {
    const bool learning = error_.empty() && !learner_->Done();
    LabelSlotPrompt->setText(learning ? Q(learner_->Prompt()) : QString("슬롯 지정 완료"));
    BitBtnSlotSkip->setEnabled(learning);
    if (!learning) TimerSlotLook->stop();
    const auto devices = ReadSerialDeviceMap();
    const std::vector<LocatedPhone> present =
        devices ? PhonesWithLocations(*devices) : std::vector<LocatedPhone>{};
    const auto& locations = learner_->map().locations;
    TableSlots->setRowCount(static_cast<int>(locations.size()));
    int row = 0;
    for (const auto& [slot, location] : locations) {
        std::string phone;
        for (const LocatedPhone& p : present)
            if (p.location == location) phone = p.portName;
        TableSlots->setItem(row, 0, new QTableWidgetItem(QString::number(slot)));
        TableSlots->setItem(row, 1, new QTableWidgetItem(Q(location)));
        TableSlots->setItem(row, 2, new QTableWidgetItem(Q(phone)));
        ++row;
    }
}

void TSlotMapDialog::AddLine(const std::string& line, bool red) {
    auto* item = new QListWidgetItem(Q(line), ListSlotLog);
    if (red) item->setForeground(Qt::red);
    ListSlotLog->scrollToItem(item);
}

}  // namespace zembra
