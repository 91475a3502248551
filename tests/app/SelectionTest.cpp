// Image slot selection through the window: the dialog, the checks with their log lines,
// ClearSlot, and the address taken from a font file name.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <filesystem>

#include "AppTestSupport.h"
#include "job/ImageSlot.h"
#include "platform/Helpers.h"

namespace zembra::test {
namespace {

class Selection : public WindowTest {
  protected:
    // Clicks the slot button with the dialog answering path (nullopt: cancel).
    void Select(const char* button, std::optional<std::string> path) {
        dialogs.openAnswers.push_back(std::move(path));
        Find<QPushButton>(button)->click();
    }
    std::string NameLine(const std::string& path, long long size) {
        return FormatText("이름:%s 크기:0x%llX,%lld 바이트", path.c_str(), size, size);
    }
    void ExpectCleared(const char* slotName) {
        const std::string s = slotName;
        EXPECT_FALSE(Find<QPushButton>(("SpeedButton" + s).c_str())->isChecked());
        EXPECT_EQ(Find<QLineEdit>(("Edit" + s + "FilePath").c_str())->text(), "");
        EXPECT_EQ(Find<QLineEdit>(("Edit" + s + "FileTime").c_str())->text(), "");
        EXPECT_EQ(Find<QLineEdit>(("Edit" + s + "FileProcess").c_str())->text(), NOT_SENT);
    }
    const char* kVersion =
        "파일 버전 정보는 0 또는 0xFFFF 값을 가질수 없습니다. 코드 파일을 잘못 선택 하였습니다.";
};

TEST_F(Selection, AValidCodeImageIsSelectedWithItsLogLines) {
    const std::string path = dir / "code.bin";
    WriteFile(path, CodeImage(0x10000, 0x1234, 0x00100000));
    Select("SpeedButtonCode", path);

    ASSERT_EQ(dialogs.openRequests.size(), 1u);
    EXPECT_EQ(dialogs.openRequests[0].name, "OpenDialogCode");
    EXPECT_EQ(dialogs.openRequests[0].filter, "BIN|*.BIN|All|*.*");
    EXPECT_EQ(dialogs.openRequests[0].defaultExt, "BIN");
    EXPECT_TRUE(Find<QPushButton>("SpeedButtonCode")->isChecked());
    EXPECT_EQ(Find<QLineEdit>("EditCodeFilePath")->text().toStdString(), path);
    EXPECT_EQ(Find<QLineEdit>("EditCodeFileTime")->text().toStdString(), FileTimeText(path));
    EXPECT_EQ(Find<QLineEdit>("EditCodeFileProcess")->text(), NOT_SENT);
    EXPECT_EQ(LoggedTexts("RichEditOutput"),
              (std::vector<std::string>{NameLine(path, 0x10000), "코드 파일 버전 정보:4660",
                                        "코드 부트 위치 정보:0x100000"}));
    for (const auto& line : PaneLines("RichEditOutput")) EXPECT_EQ(line.colour, 0u);
    const DownloadJob job = form().model().ReadJob();
    EXPECT_TRUE(job[ImageSlot::Code].selected);
    EXPECT_EQ(job[ImageSlot::Code].path, path);

    // A second click releases the slot.
    Find<QPushButton>("SpeedButtonCode")->click();
    ExpectCleared("Code");
    EXPECT_EQ(dialogs.openRequests.size(), 1u);
}

TEST_F(Selection, RefusedCodeImagesLogTheReasonAndClearTheSlot) {
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::string> after;  // lines after the name line
    };
    const std::vector<Case> cases = {
        {"size.bin",
         CodeImage(0x10001, 0x1234, 0x100),
         {"파일 크기는 0x10000의 배수가 되어야 합니다."}},
        {"ffff.bin", CodeImage(0x10000, 0xFFFF, 0x100), {"코드 파일 버전 정보:65535", kVersion}},
        {"zero.bin", CodeImage(0x10000, 0x0000, 0x100), {"코드 파일 버전 정보:0", kVersion}},
        {"boot.bin",
         CodeImage(0x10000, 0x0001, 0),
         {"코드 파일 버전 정보:1", "코드 부트 위치 정보:0x0",
          "부트 위치 정보는 0 또는 0xFFFFFFFF 값을 가질 수 없습니다.  코드 파일을 잘못 선택 "
          "하였습니다."}},
    };
    for (const Case& c : cases) {
        const std::string path = dir / c.name;
        WriteFile(path, c.bytes);
        const std::size_t before = LoggedTexts("RichEditOutput").size();
        Select("SpeedButtonCode", path);
        auto logged = LoggedTexts("RichEditOutput");
        logged.erase(logged.begin(), logged.begin() + static_cast<std::ptrdiff_t>(before));
        std::vector<std::string> expected{NameLine(path, static_cast<long long>(c.bytes.size()))};
        expected.insert(expected.end(), c.after.begin(), c.after.end());
        EXPECT_EQ(logged, expected) << c.name;
        ExpectCleared("Code");
    }
}

TEST_F(Selection, MissingDirectoryAndShortFilesNeverStaySelected) {
    Find<QPushButton>("BitBtnAM")->click();
    Find<QCheckBox>("CheckBoxBinSizeCheck")->click();  // sizes no longer need to be 64K
    Find<QPushButton>("BitBtnAMClose")->click();

    const std::string missing = dir / "gone.bin";
    const std::string folder = dir / "folder.bin";
    std::filesystem::create_directory(Native(folder));
    const std::string shortFile = dir / "short.bin";
    WriteFile(shortFile, std::string(10, '\x01'));

    for (const std::string& path : {missing, folder, shortFile}) {
        Select("SpeedButtonCode", path);
        ExpectCleared("Code");
        const auto logged = LoggedTexts("RichEditOutput");
        ASSERT_GE(logged.size(), 2u);
        EXPECT_EQ(logged[logged.size() - 2].rfind("이름:" + path, 0), 0u) << path;
        // A file that cannot be read says so; one too short for a trailer is the wrong file.
        EXPECT_EQ(logged.back(),
                  path == shortFile ? std::string(kVersion) : "파일을 읽을 수 없습니다:" + path)
            << path;

        Select("SpeedButtonFont4", path);
        if (path == shortFile) {
            EXPECT_TRUE(Find<QPushButton>("SpeedButtonFont4")->isChecked());  // a readable font
            Find<QPushButton>("SpeedButtonFont4")->click();
        } else {
            EXPECT_EQ(LoggedTexts("RichEditOutput").back(), "파일을 읽을 수 없습니다:" + path);
        }
        ExpectCleared("Font4");
    }
}

TEST_F(Selection, FontSizeRuleAndCancelledDialog) {
    const std::string big = dir / "font.bin";
    WriteFile(big, std::string(0x10001, '\0'));
    Select("SpeedButtonFont1", big);
    EXPECT_EQ(LoggedTexts("RichEditOutput").back(),
              "파일 크기는 0x10000의 배수가 되어야 합니다. 환경에서 조정가능");
    ExpectCleared("Font1");

    Select("SpeedButtonFont1", std::nullopt);
    ExpectCleared("Font1");
    EXPECT_EQ(dialogs.openRequests.back().name, "OpenDialogFont1");
    EXPECT_EQ(dialogs.openRequests.back().defaultExt, "");
}

TEST_F(Selection, FontFileNameFillsTheAddressAndTakesTheFocus) {
    form().show();
    const std::string tagged = dir / "FONT2_0X10000.BIN";
    WriteFile(tagged, std::string(0x10000, '\0'));
    auto* address = Find<QLineEdit>("EditFont2Address");
    address->setText("0x5");
    Select("SpeedButtonFont2", tagged);
    EXPECT_TRUE(Find<QPushButton>("SpeedButtonFont2")->isChecked());
    EXPECT_EQ(address->text(), "0x10000");
    EXPECT_EQ(form().focusWidget(), address);

    const std::string plain = dir / "font3.bin";
    WriteFile(plain, std::string(0x10000, '\0'));
    Find<QLineEdit>("EditFont3Address")->setText("0x7");
    Select("SpeedButtonFont3", plain);
    EXPECT_EQ(Find<QLineEdit>("EditFont3Address")->text(), "0x7");

    // Logs go to the multi pane while the multi panel is shown.
    Find<QRadioButton>("RadioButtonMulti")->click();
    const std::string dotted = dir / "font5_0x1f.x.bin";
    WriteFile(dotted, std::string(0x10000, '\0'));
    Select("SpeedButtonFont5", dotted);
    EXPECT_EQ(Find<QLineEdit>("EditFont5Address")->text(), "0x1f");
    // Font 5 at 0x1f now overlaps fonts 2 and 3: the name line, then only the new overlaps
    // (font 3 overlapping font 2 was said at its own selection).
    const auto texts = LoggedTexts("RichEdit21");
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts[texts.size() - 3], NameLine(dotted, 0x10000));
    EXPECT_EQ(texts[texts.size() - 2],
              "폰트2 0x00010000~0x0001FFFF 영역이 폰트5 0x0000001F~0x0001001E 영역과 겹칩니다");
    EXPECT_EQ(texts.back(),
              "폰트3 0x00000007~0x00010006 영역이 폰트5 0x0000001F~0x0001001E 영역과 겹칩니다");
    const auto single = LoggedTexts("RichEditOutput");
    EXPECT_EQ(single.back(),
              "폰트2 0x00010000~0x0001FFFF 영역이 폰트3 0x00000007~0x00010006 영역과 겹칩니다");
}

TEST_F(Selection, DialogsOpenInTheLastFolderAcrossRunsAndPathsShowWhole) {
    std::filesystem::create_directories(dir.path() / "images");
    const std::string code = dir / "images/a_rather_long_code_image_name_that_is_cut.bin";
    WriteFile(code, CodeImage(0x10000, 1, 0x100));
    Select("SpeedButtonCode", code);
    EXPECT_EQ(Find<QLineEdit>("EditCodeFilePath")->toolTip().toStdString(), code);

    Recreate();  // the next run of the program
    Select("SpeedButtonFont1", std::nullopt);
    EXPECT_EQ(dialogs.openRequests.back().folder, dir / "images");
    dialogs.openAnswers.push_back(std::nullopt);
    Find<QPushButton>("SpeedButtonCfg")->click();
    EXPECT_EQ(dialogs.openRequests.back().folder, dir / "images");
}

TEST_F(Selection, DisabledAddressIsFilledWithoutMovingTheFocus) {
    form().show();
    DownloadJob job = form().model().ReadJob();
    job.configLoaded = true;  // as after a configuration load
    form().model().ApplyJob(job);
    auto* address = Find<QLineEdit>("EditFont6Address");
    ASSERT_FALSE(address->isEnabled());
    Find<QLineEdit>("EditModelName")->setFocus();

    const std::string tagged = dir / "f6_0x200000.bin";
    WriteFile(tagged, std::string(0x10000, '\0'));
    Select("SpeedButtonFont6", tagged);
    EXPECT_TRUE(Find<QPushButton>("SpeedButtonFont6")->isChecked());
    EXPECT_EQ(address->text(), "0x200000");
    EXPECT_NE(form().focusWidget(), address);
    EXPECT_TRUE(dialogs.messages.empty());

    // Releasing clears the slot even while the configuration holds.
    Find<QPushButton>("SpeedButtonFont6")->click();
    ExpectCleared("Font6");
}

// A name relative to the working folder (zembra --code code.bin) is shown as the whole path,
// as the dialog gives it; the checks read the same file.
TEST_F(Selection, ARelativeNameIsShownAsItsWholePath) {
    WriteFile(dir / "code.bin", CodeImage(0x10000, 0x1234, 0x8000));
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    form().SelectImageFile(ImageSlot::Code, "code.bin");
    std::filesystem::current_path(before);
    EXPECT_EQ(Find<QLineEdit>("EditCodeFilePath")->text().toStdString(), dir / "code.bin");
    EXPECT_TRUE(Find<QPushButton>("SpeedButtonCode")->isChecked());
}

}  // namespace
}  // namespace zembra::test
