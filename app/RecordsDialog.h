#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QPushButton;
class QTableWidget;

namespace zembra {

// "다운로드 기록": the last download records of the records database in a table (start time,
// port and slot, link and protocol, result, duration, images with the start of their
// SHA-256), newest first, read afresh each time it is shown. Read-only; a database that
// cannot be read is said in its status line.
class TRecordsDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kShownRecords = 50;

    explicit TRecordsDialog(QWidget* parent = nullptr);

    // Reads the last records of the database at path (empty: records are off).
    void Reload(const std::string& path);

    // The line server's line under the table (hidden when text is empty).
    void ShowLineStatus(const std::string& text);

    QTableWidget* table() const { return TableRecords; }
    QLabel* status() const { return LabelStatus; }

  private:
    QTableWidget* TableRecords;
    QLabel* LabelStatus;
    QLabel* LabelLineStatus;
    QPushButton* BitBtnClose;
};

}  // namespace zembra
