// Configuration files through the window: automatic load at first show, dialog load and
// release, save and load round trip, settings-only save, the pop-up after a load, and bad
// files.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <filesystem>
#include <random>

#include "AppTestSupport.h"
#include "app/PopUpUnit.h"
#include "job/ConfigFile.h"
#include "platform/Helpers.h"

namespace zembra::test {
namespace {

class Configuration : public WindowTest {
  protected:
    // Writes a configuration file from UTF-8 lines (stored as CP949, CR LF).
    void WriteConfig(const std::string& path, const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& line : lines) text += line + "\r\n";
        WriteFile(path, Utf8ToCp949(text));
    }
    void LoadThroughDialog(std::optional<std::string> path) {
        dialogs.openAnswers.push_back(std::move(path));
        Find<QPushButton>("SpeedButtonCfg")->click();
    }
    void ExpectReleasedState() {
        EXPECT_FALSE(Find<QPushButton>("SpeedButtonCfg")->isChecked());
        EXPECT_EQ(Find<QLineEdit>("EditCfgFilePath")->text(), "");
        EXPECT_EQ(Find<QLineEdit>("EditModelName")->text(), "");
        EXPECT_TRUE(Find<QCheckBox>("CheckBoxChange")->isEnabled());
        for (const ImageSlot& slot : form().model().ReadJob().slots)
            EXPECT_EQ(slot.expectedName, ANY_FILE);
        for (int n = 1; n <= 6; ++n)
            EXPECT_TRUE(
                Find<QLineEdit>(("EditFont" + std::to_string(n) + "Address").c_str())->isEnabled());
    }
    std::size_t PopUpsShown() const {
        return static_cast<std::size_t>(
            std::count(dialogs.modalShown.begin(), dialogs.modalShown.end(), "OKBottomDlgPopUp"));
    }
};

TEST_F(Configuration, AutomaticFileIsLoadedWhenTheWindowIsFirstShown) {
    EXPECT_EQ(form().configuration().autoConfigPath(), dir / "Toolcfg.txt");
    WriteConfig(dir / "Toolcfg.txt",
                {"// settings", "[패킷CMD응답대기시간ms] 12345", "[USB다운로드규약] 2",
                 "[로드시띄우는창]  작업 전 케이블 확인"});
    Recreate();
    EXPECT_EQ(Find<QLineEdit>("EditResponseWaitTime")->text(), "20000");  // not before showing

    form().show();
    QApplication::processEvents();
    EXPECT_EQ(Find<QLineEdit>("EditResponseWaitTime")->text(), "12345");
    EXPECT_TRUE(Find<QRadioButton>("NormalUSBRadioButton")->isChecked());
    EXPECT_FALSE(form().model().configLoaded());
    EXPECT_EQ(Find<QLineEdit>("EditCfgFilePath")->text(), "");
    EXPECT_EQ(form().model().ReadJob()[ImageSlot::Code].expectedName, ANY_FILE);
    EXPECT_EQ(
        LoggedTexts("RichEditOutput").front().rfind("환경파일읽기:" + (dir / "Toolcfg.txt"), 0),
        0u);
    // The automatic load ran the pop-up once, with the file's text.
    EXPECT_EQ(PopUpsShown(), 1u);
    EXPECT_EQ(windows->popUp->Text(), " 작업 전 케이블 확인");

    // Later resizes do not load the file over the operator's edits.
    Find<QLineEdit>("EditResponseWaitTime")->setText("777");
    form().hide();
    form().show();
    QApplication::processEvents();
    EXPECT_EQ(Find<QLineEdit>("EditResponseWaitTime")->text(), "777");
    EXPECT_TRUE(dialogs.openRequests.empty());
}

TEST_F(Configuration, ProgramPathRuleAndNoFileMeansNothing) {
    programPath = dir / "bin/zembra";
    std::filesystem::create_directory(Native(dir / "bin"));
    Recreate();
    EXPECT_EQ(form().configuration().autoConfigPath(), AutoConfigPathFor(programPath));
    form().show();
    QApplication::processEvents();
    EXPECT_TRUE(LoggedTexts("RichEditOutput").empty());
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(dialogs.modalShown.empty());
}

TEST_F(Configuration, SettingsOnlySaveIsLoadedAtTheNextStart) {
    Find<QLineEdit>("EditCmd2CmdWaitTime")->setText("250");
    Find<QRadioButton>("RadioButtonPUART")->click();
    Find<QLineEdit>("EditModelName")->setText("not saved");
    Find<QPushButton>("BitBtnCfgSave2")->click();
    EXPECT_TRUE(dialogs.saveRequests.empty());
    const std::string text = Cp949ToUtf8(ReadFile(dir / "Toolcfg.txt"));
    EXPECT_NE(text.find("[CMD사이의대기시간ms] 250"), std::string::npos);
    EXPECT_EQ(text.find("[모델명]"), std::string::npos);

    Recreate();
    form().show();
    QApplication::processEvents();
    EXPECT_EQ(Find<QLineEdit>("EditCmd2CmdWaitTime")->text(), "250");
    EXPECT_TRUE(Find<QRadioButton>("RadioButtonPUART")->isChecked());
    EXPECT_EQ(Find<QLineEdit>("EditModelName")->text(), "");
    EXPECT_EQ(PopUpsShown(), 0u);
}

// The program as it really starts: no path handed in, the file next to the running program
// (here the test program: <test_app>cfg.txt, on Windows without ".exe").
TEST_F(Configuration, FileNextToTheRunningProgramIsSavedAndLoaded) {
    programPath.clear();
    Recreate();
    const std::string own = AutoConfigPathFor(ProgramPath());  // <test_app>cfg.txt
    EXPECT_EQ(form().configuration().autoConfigPath(), own);
    struct Remove {
        std::string path;
        ~Remove() { RemoveFile(path); }
    } remove{own};
    Find<QLineEdit>("EditCmd2CmdWaitTime")->setText("321");
    Find<QPushButton>("BitBtnCfgSave2")->click();
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages.front().text;
    ASSERT_TRUE(FileExists(own));

    Recreate();
    EXPECT_EQ(Find<QLineEdit>("EditCmd2CmdWaitTime")->text(), "200");
    form().show();
    QApplication::processEvents();
    EXPECT_EQ(Find<QLineEdit>("EditCmd2CmdWaitTime")->text(), "321");
}

TEST_F(Configuration, SaveAndLoadRoundTripThroughTheWindow) {
    const std::string code = dir / "main_code.bin";
    WriteFile(code, CodeImage(0x10000, 0x0102, 0x0200));
    const std::string font = dir / "font1_0x400000.bin";
    WriteFile(font, std::string(0x10000, '\0'));
    dialogs.openAnswers = {code, font};
    Find<QPushButton>("SpeedButtonCode")->click();
    Find<QPushButton>("SpeedButtonFont1")->click();
    Find<QLineEdit>("EditFont3Address")->setText("10");
    Find<QLineEdit>("EditModelName")->setText("모델 A 1");
    Find<QCheckBox>("CheckBoxChange")->click();
    Find<QRadioButton>("PressProgressUSBRadioButton")->click();
    Find<QLineEdit>("EditEraseWaitTime")->setText("42");
    Find<QCheckBox>("CheckBoxFont0Check")->click();

    const std::string cfg = dir / "ZembraCFG.TXT";
    dialogs.saveAnswers.push_back(cfg);
    Find<QPushButton>("BitBtnCfgSave")->click();
    ASSERT_EQ(dialogs.saveRequests.size(), 1u);
    EXPECT_EQ(dialogs.saveRequests[0].name, "SaveDialogCfgSave");
    EXPECT_EQ(dialogs.saveRequests[0].defaultName, "ZembraCFG.TXT");
    EXPECT_EQ(dialogs.saveRequests[0].defaultExt, "TXT");
    EXPECT_TRUE(dialogs.saveRequests[0].confirmOverwrite);
    EXPECT_TRUE(dialogs.messages.empty());
    const DownloadSettings saved = form().model().ReadSettings();

    Recreate();
    LoadThroughDialog(cfg);
    ASSERT_EQ(dialogs.openRequests.back().name, "OpenDialogCfg");
    EXPECT_EQ(dialogs.openRequests.back().filter, "환경 TXT 파일|*.TXT|모든 파일|*.*");
    EXPECT_TRUE(form().model().configLoaded());
    EXPECT_EQ(Find<QLineEdit>("EditCfgFilePath")->text().toStdString(), cfg);
    EXPECT_EQ(Find<QLineEdit>("EditModelName")->text(), QString::fromUtf8("모델 A 1"));
    EXPECT_TRUE(Find<QCheckBox>("CheckBoxChange")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("CheckBoxChange")->isEnabled());
    EXPECT_EQ(Find<QLineEdit>("EditFont1Address")->text(), "0x400000");
    EXPECT_EQ(Find<QLineEdit>("EditFont3Address")->text(), "0xA");
    EXPECT_EQ(Find<QLineEdit>("EditFont2Address")->text(), "");
    EXPECT_FALSE(Find<QLineEdit>("EditFont2Address")->isEnabled());
    EXPECT_EQ(Find<QLineEdit>("EditCodeSFile")->text(), "main_code.bin");
    EXPECT_EQ(Find<QLineEdit>("EditFont1SFile")->text(), "font1_0x400000.bin");
    EXPECT_EQ(Find<QLineEdit>("EditFont2SFile")->text(), "");
    EXPECT_EQ(form().model().ReadSettings(), saved);
    // The fixed pop-up line of a full file is not blank: the pop-up shows once.
    EXPECT_EQ(PopUpsShown(), 1u);

    // Releasing the button gives the job back to the operator.
    Find<QPushButton>("SpeedButtonCfg")->click();
    ExpectReleasedState();
    EXPECT_TRUE(Find<QCheckBox>("CheckBoxChange")->isChecked());  // change keeps its value
    EXPECT_EQ(Find<QLineEdit>("EditFont1Address")->text(), "0x400000");
}

TEST_F(Configuration, CancelledDialogResetsTheConfiguredState) {
    Find<QLineEdit>("EditModelName")->setText("M");
    LoadThroughDialog(std::nullopt);
    ExpectReleasedState();
}

TEST_F(Configuration, PopUpIsShownOnceForANonBlankTextOnly) {
    const std::string two = dir / "two.TXT";
    WriteConfig(two, {"[로드시띄우는창] 첫째", "[로드시띄우는창] 둘째 줄"});
    LoadThroughDialog(two);
    EXPECT_EQ(PopUpsShown(), 1u);
    EXPECT_EQ(windows->popUp->Text(), "둘째 줄");

    // Loading the same file again shows it again.
    Find<QPushButton>("SpeedButtonCfg")->click();  // release
    LoadThroughDialog(two);
    EXPECT_EQ(PopUpsShown(), 2u);

    const std::string blank = dir / "blank.TXT";
    WriteConfig(blank, {"[로드시띄우는창]    ", "[모델명] X"});
    Find<QPushButton>("SpeedButtonCfg")->click();
    LoadThroughDialog(blank);
    EXPECT_EQ(PopUpsShown(), 2u);
    EXPECT_EQ(windows->popUp->Text(), "   ");

    const std::string none = dir / "none.TXT";
    WriteConfig(none, {"[모델명] Y"});
    Find<QPushButton>("SpeedButtonCfg")->click();
    LoadThroughDialog(none);
    EXPECT_EQ(PopUpsShown(), 2u);
    EXPECT_EQ(windows->popUp->Text(), "   ");  // the previous text stays

    // The information buttons show it with whatever text it holds.
    Find<QPushButton>("BitBtnInfo")->click();
    Find<QPushButton>("BitBtn4")->click();
    EXPECT_EQ(PopUpsShown(), 4u);
}

TEST_F(Configuration, InformationButtonShowsTheInitialText) {
    std::string shownText;
    dialogs.whileModal = [&](QDialog& d) { shownText = static_cast<TOKBottomDlgPopUp&>(d).Text(); };
    Find<QPushButton>("BitBtnInfo")->click();
    EXPECT_EQ(
        shownText,
        "\n                            Zembra\n\n 이곳은 환경파일의 [로드시띄우는창]을 수정하면 \n"
        "나타나는 곳입니다.");
}

TEST_F(Configuration, GarbageHugeVanishedAndUnreadableFilesKeepTheWindowUsable) {
    // Garbage: random bytes, NULs, broken CP949, a key glued to the end.
    std::mt19937 random(7);
    std::string garbage(200000, '\0');
    for (char& c : garbage) c = static_cast<char>(random());
    garbage += Utf8ToCp949("\r\n[모델명] 살아있음");
    const std::string garbageFile = dir / "garbage.TXT";
    WriteFile(garbageFile, garbage);
    LoadThroughDialog(garbageFile);
    EXPECT_TRUE(form().model().configLoaded());
    EXPECT_EQ(Find<QLineEdit>("EditModelName")->text(), QString::fromUtf8("살아있음"));
    Find<QPushButton>("SpeedButtonCfg")->click();

    // Huge: 8 MB of words and an endless line.
    std::string huge;
    while (huge.size() < 4'000'000) huge += "word [모델 ";
    huge += std::string(4'000'000, 'x') + "\r\n" + Utf8ToCp949("[일반CMD응답대기시간ms] 321\r\n");
    const std::string hugeFile = dir / "huge.TXT";
    WriteFile(hugeFile, huge);
    LoadThroughDialog(hugeFile);
    EXPECT_EQ(Find<QLineEdit>("EditNormalCMDWaitTime")->text(), "321");
    Find<QPushButton>("SpeedButtonCfg")->click();

    // Vanished after the dialog, and a path that cannot be read as a file: a red line, the
    // configuration does not hold, nothing else changes.
    const std::string folder = dir / "folder.TXT";
    std::filesystem::create_directory(Native(folder));
    for (const std::string& path : {dir / "vanished.TXT", folder}) {
        Find<QLineEdit>("EditModelName")->setText("kept");
        LoadThroughDialog(path);
        const auto lines = PaneLines("RichEditOutput");
        EXPECT_EQ(lines.back().colour, 0x0000FFu) << path;
        EXPECT_EQ(lines.back().text.rfind("환경파일을 읽을 수 없습니다:" + path, 0), 0u);
        ExpectReleasedState();
        EXPECT_EQ(Find<QLineEdit>("EditResponseWaitTime")->text(), "20000");
    }

    // Still usable: a good file loads.
    const std::string good = dir / "good.TXT";
    WriteConfig(good, {"[모델명] OK"});
    LoadThroughDialog(good);
    EXPECT_EQ(Find<QLineEdit>("EditModelName")->text(), "OK");
}

TEST_F(Configuration, SaveToAPlaceThatCannotBeWrittenShowsTheBox) {
    const std::string existing = dir / "old.TXT";
    WriteFile(existing, "old");
    // A folder in the way of the file, and a folder that does not exist.
    const std::string folder = dir / "taken.TXT";
    std::filesystem::create_directory(Native(folder));
    for (const std::string& path : {folder, dir / "no/such/x.TXT"}) {
        dialogs.saveAnswers.push_back(path);
        Find<QPushButton>("BitBtnCfgSave")->click();
        ASSERT_FALSE(dialogs.messages.empty());
        EXPECT_EQ(dialogs.messages.back().text, "파일 저장 오류");
        EXPECT_EQ(dialogs.messages.back().caption, "주의");
        EXPECT_EQ(dialogs.messages.back().style & mb::kButtonsMask, mb::kOk);
    }
    EXPECT_TRUE(std::filesystem::is_directory(Native(folder)));
    EXPECT_EQ(ReadFile(existing), "old");

    // An image name CP949 cannot hold: the save is refused with a box naming the slot, and
    // the old file stays.
    const std::string emoji = dir / "font\xF0\x9F\x98\x80_0x10000.bin";
    WriteFile(emoji, std::string(0x10000, '\0'));
    dialogs.openAnswers.push_back(emoji);
    Find<QPushButton>("SpeedButtonFont3")->click();
    dialogs.saveAnswers.push_back(existing);
    Find<QPushButton>("BitBtnCfgSave")->click();
    ASSERT_FALSE(dialogs.messages.empty());
    EXPECT_NE(dialogs.messages.back().text.find("폰트3 파일 이름"), std::string::npos)
        << dialogs.messages.back().text;
    EXPECT_EQ(dialogs.messages.back().caption, "주의");
    EXPECT_EQ(ReadFile(existing), "old");

    // Cancelling the save dialog writes nothing.
    const std::size_t boxes = dialogs.messages.size();
    dialogs.saveAnswers.push_back(std::nullopt);
    Find<QPushButton>("BitBtnCfgSave")->click();
    EXPECT_EQ(dialogs.messages.size(), boxes);
}

#ifndef _WIN32  // /proc/sys: a folder nobody may write (under Wine every folder is writable)
// A program in a folder it cannot write (the packaged /usr/bin/zembra): its settings file is
// the user's $XDG_CONFIG_HOME/zembra/zembracfg.txt, saved there and loaded at the next start.
TEST_F(Configuration, ProgramInAFolderNobodyWritesKeepsItsSettingsInTheUsersConfig) {
    programPath = "/proc/sys/zembra";  // not writable, whoever runs the test
    Recreate();
    const std::string own = std::string(std::getenv("XDG_CONFIG_HOME")) + "/zembra/zembracfg.txt";
    EXPECT_EQ(form().configuration().autoConfigPath(), own);
    struct Remove {
        std::string path;
        ~Remove() { RemoveFile(path); }
    } remove{own};
    std::filesystem::remove_all(std::filesystem::path(own).parent_path());
    Find<QLineEdit>("EditCmd2CmdWaitTime")->setText("123");
    Find<QPushButton>("BitBtnCfgSave2")->click();
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages.front().text;
    ASSERT_TRUE(FileExists(own));

    Recreate();
    form().show();
    QApplication::processEvents();
    EXPECT_EQ(Find<QLineEdit>("EditCmd2CmdWaitTime")->text(), "123");
}
#endif

}  // namespace
}  // namespace zembra::test
