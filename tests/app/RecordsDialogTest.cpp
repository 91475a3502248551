// The records dialog: the last records of the database, newest first, failures in red, and
// what it says when the records are off or the file is not a database.
#include <QLabel>
#include <QTableWidget>

#include "AppTestSupport.h"
#include "app/RecordsDialog.h"
#include "records/RecordStore.h"

namespace zembra::test {
namespace {

DownloadRecord Record(const std::string& port, bool ok) {
    DownloadRecord r;
    r.startUtc = r.endUtc = "2026-12-07T10:00:00.000Z";
    r.port = port;
    r.link = "USB";
    r.protocol = "compressed";
    r.outcome = ok ? "Completed" : "EraseFailed";
    r.succeeded = ok;
    RecordImage image;
    image.fileName = "code.bin";
    image.sha256 = "0123456789abcdef0123";
    image.written = ok;
    r.images.push_back(image);
    return r;
}

TEST(RecordsDialog, ShowsTheLastRecordsNewestFirst) {
    TempDir dir;
    const std::string path = dir / "records.sqlite";
    RecordStore store(path);
    for (int n = 0; n < TRecordsDialog::kShownRecords + 5; ++n) {
        DownloadRecord r =
            Record(n % 2 ? "COM66" : "COM65", n != TRecordsDialog::kShownRecords + 3);
        ASSERT_EQ(store.Append(r), "");
    }
    TRecordsDialog dialog;
    dialog.Reload(path);
    QTableWidget* table = dialog.table();
    ASSERT_EQ(table->rowCount(), TRecordsDialog::kShownRecords);
    EXPECT_EQ(table->item(0, 1)->text(), "COM65");  // the last one (n = 54)
    EXPECT_TRUE(table->item(0, 3)->text().startsWith("OK"));
    EXPECT_TRUE(table->item(1, 3)->text().contains("EraseFailed"));  // the failed one
    EXPECT_EQ(table->item(1, 3)->foreground().color(), QColor(Qt::red));
    EXPECT_TRUE(table->item(0, 6)->text().contains("0123456789ab"));

    dialog.Reload("");
    EXPECT_EQ(table->rowCount(), 0);
    EXPECT_FALSE(dialog.status()->text().isEmpty());
    WriteFile(dir / "junk.sqlite", std::string(2000, 'j'));
    dialog.Reload(dir / "junk.sqlite");
    EXPECT_EQ(table->rowCount(), 0);
    EXPECT_TRUE(dialog.status()->text().contains("junk.sqlite"));
    EXPECT_EQ(ReadFile(dir / "junk.sqlite"), std::string(2000, 'j'));
}

}  // namespace
}  // namespace zembra::test
