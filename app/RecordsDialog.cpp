#include "app/RecordsDialog.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <vector>

#include "app/FormWidgets.h"
#include "job/ImageSlot.h"
#include "records/RecordStore.h"

namespace zembra {

namespace {

QString ImagesText(const DownloadRecord& r) {
    QStringList parts;
    for (const RecordImage& image : r.images)
        parts << QString("%1 %2 %3%4")
                     .arg(Q(SlotCaption(image.slot)), Q(image.fileName),
                          Q(image.sha256.substr(0, 12)), image.written ? "" : " (x)");
    return parts.join(", ");
}

}  // namespace

TRecordsDialog::TRecordsDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("RecordsDialog");
    setWindowTitle("다운로드 기록");
    resize(900, 420);
    auto* layout = new QVBoxLayout(this);
    TableRecords = new QTableWidget(0, 7, this);
    TableRecords->setObjectName("TableRecords");
    TableRecords->setHorizontalHeaderLabels(
        {"시작 (UTC)", "포트", "링크", "결과", "소요 시간", "바이트", "이미지"});
    TableRecords->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TableRecords->setSelectionBehavior(QAbstractItemView::SelectRows);
    TableRecords->verticalHeader()->setVisible(false);
    TableRecords->horizontalHeader()->setStretchLastSection(true);
    LabelStatus = new QLabel(this);
    LabelStatus->setObjectName("LabelRecordsStatus");
    LabelLineStatus = new QLabel(this);
    LabelLineStatus->setObjectName("LabelLineStatus");
    LabelLineStatus->setVisible(false);
    LabelLineStatus->setWordWrap(true);  // the whole status, the server's reason included
    BitBtnClose = new QPushButton("닫기", this);
    BitBtnClose->setObjectName("BitBtnRecordsClose");
    connect(BitBtnClose, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(TableRecords);
    layout->addWidget(LabelStatus);
    layout->addWidget(LabelLineStatus);
    layout->addWidget(BitBtnClose, 0, Qt::AlignRight);
}

void TRecordsDialog::Reload(const std::string& path) {
    TableRecords->setRowCount(0);
    if (path.empty()) {
        LabelStatus->setText("다운로드 기록이 꺼져 있습니다");
        return;
    }
    RecordFilter filter;
    filter.last = kShownRecords;
    std::vector<DownloadRecord> records;
    const std::string error = RecordStore(path).Query(filter, records);
    if (!error.empty()) {
        LabelStatus->setText(Q(path) + ": " + Q(error));
        return;
    }
    TableRecords->setRowCount(static_cast<int>(records.size()));
    int row = 0;
    for (auto it = records.rbegin(); it != records.rend(); ++it, ++row) {
        const DownloadRecord& r = *it;
        QString place = r.slot > 0 ? QString("슬롯%1").arg(r.slot) : QString();
        if (!r.location.empty()) place += (place.isEmpty() ? "" : ", ") + Q(r.location);
        const QString port = place.isEmpty() ? Q(r.port) : QString("%1 (%2)").arg(Q(r.port), place);
        const QString cells[] = {Q(r.startUtc),
                                 port,
                                 Q(r.link + " " + r.protocol),
                                 QString("%1 %2").arg(r.succeeded ? "OK" : "실패", Q(r.outcome)),
                                 QString::number(r.durationMs / 1000.0, 'f', 1) + "s",
                                 QString::number(r.bytesSent),
                                 ImagesText(r)};
        for (int column = 0; column < 7; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            if (!r.succeeded) item->setForeground(Qt::red);
            TableRecords->setItem(row, column, item);
        }
    }
    TableRecords->resizeColumnsToContents();
    LabelStatus->setText(QString("%1 — %2건").arg(Q(path)).arg(records.size()));
}

void TRecordsDialog::ShowLineStatus(const std::string& text) {
    LabelLineStatus->setText(Q(text));
    LabelLineStatus->setVisible(!text.empty());
}

}  // namespace zembra
