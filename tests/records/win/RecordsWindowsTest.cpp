#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Helpers.h"
#include "platform/PortNames.h"
#include "platform/UserFolders.h"
#include "records/RecordStore.h"
#include "records/Sha256.h"
#include "tests/support/TestSupport.h"

// The records of the Windows build: SQLite built for Windows and SHA-256 through the system's
// CNG, under the real Windows (or Wine) services.

namespace zembra::test {
namespace {

TEST(RecordsOnWindows, DigestsComeFromTheSystem) {
    const std::string abc = "abc";
    EXPECT_EQ(Sha256OfBytes(reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256OfBytes(nullptr, 0),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    // A file longer than the read buffer: one million "a" (FIPS 180-2's long message).
    ScratchDir dir;
    const std::string path = dir.File("a.bin");
    std::ofstream(path, std::ios::binary) << std::string(1000000, 'a');
    EXPECT_EQ(Sha256OfFile(path),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(RecordsOnWindows, KoreanTextRoundTripsInANewFolder) {
    ScratchDir dir;
    // Backslashes as Windows paths have them; both folders are made, with their Korean names
    // (SQLite takes the name in UTF-8 whatever the code page).
    const std::string path = dir.path() + "\\기록\\홍길동\\records.sqlite";
    DownloadRecord r;
    r.startUtc = r.endUtc = "2026-12-07T10:00:00.000Z";
    r.station = "라인-1";
    r.frontEnd = "zembra";
    r.port = "COM65";
    r.link = "USB";
    r.protocol = "compressed";
    r.outcome = "Completed";
    r.outcomeText = "다운로드 완료";
    r.succeeded = true;
    RecordImage image;
    image.fileName = "코드.bin";
    image.sha256 = Sha256OfBytes(reinterpret_cast<const std::uint8_t*>("x"), 1);
    r.images.push_back(image);
    ASSERT_EQ(RecordStore(path).Append(r), "");

    std::vector<DownloadRecord> out;
    ASSERT_EQ(RecordStore(path).Query({}, out), "");
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].station, "라인-1");
    EXPECT_EQ(out[0].outcomeText, "다운로드 완료");
    ASSERT_EQ(out[0].images.size(), 1u);
    EXPECT_EQ(out[0].images[0].fileName, "코드.bin");
    EXPECT_EQ(out[0].images[0].sha256.size(), 64u);
}

TEST(RecordsOnWindows, DefaultPlaceIsTheApplicationData) {
    const std::string appData = EnvironmentValue("APPDATA");
    ASSERT_FALSE(appData.empty());
    EXPECT_EQ(DefaultRecordsPath(), appData + "/zembra/records.sqlite");
}

// A records path in the station's configuration with a drive or a share is taken as it is, one
// with "~" starts at the user's profile, any other starts at the file's folder.
TEST(RecordsOnWindows, ConfigurationPathsWithADriveOrAShareAreAbsolute) {
    const std::string config = StationConfigPath();
    if (FileExists(config)) GTEST_SKIP() << config << " is the user's own";
    ASSERT_TRUE(MakeFolders(ParentFolder(config)));
    struct Remove {
        std::string path;
        ~Remove() { RemoveFile(path); }
    } remove{config};
    const auto pathFor = [&config](const std::string& value) {
        EXPECT_EQ(ReplaceFileDurably(config, "records-database = " + value + "\r\n"), "");
        return RecordsPathFor("");
    };
    EXPECT_EQ(pathFor("C:\\records\\z.sqlite"), "C:\\records\\z.sqlite");
    EXPECT_EQ(pathFor("C:/records/z.sqlite"), "C:/records/z.sqlite");
    EXPECT_EQ(pathFor("\\\\server\\share\\z.sqlite"), "\\\\server\\share\\z.sqlite");
    EXPECT_EQ(pathFor("~\\z.sqlite"), HomeFolder() + "\\z.sqlite");
    EXPECT_EQ(pathFor("rel\\z.sqlite"), ParentFolder(config) + "/rel\\z.sqlite");
}

}  // namespace
}  // namespace zembra::test
