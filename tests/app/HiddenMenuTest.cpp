// The hidden menu: opened by a double-click on the logo, its trace switch with the save
// dialog (cancel, existing file) and the write-data option.
#include <sys/stat.h>

#include <QCheckBox>
#include <QLabel>
#include <QTest>
#include <filesystem>

#include "AppTestSupport.h"
#include "app/SModeUnit.h"
#include "platform/Console.h"

namespace zembra::test {
namespace {

class HiddenMenu : public WindowTest {
  protected:
    QCheckBox* Box(const char* name) const {
        auto* box = windows->sMode->findChild<QCheckBox*>(name);
        EXPECT_NE(box, nullptr) << name;
        return box;
    }
};

TEST_F(HiddenMenu, DoubleClickOnTheLogoOpensIt) {
    form().show();
    auto* logo = Find<QLabel>("ImageZembra");
    QTest::mouseClick(logo, Qt::LeftButton);
    EXPECT_TRUE(dialogs.modalShown.empty());
    QTest::mouseDClick(logo, Qt::LeftButton);
    ASSERT_EQ(dialogs.modalShown.size(), 1u);
    EXPECT_EQ(dialogs.modalShown[0], "OKBottomDlgSMode");
}

TEST_F(HiddenMenu, CancellingTheFileDialogLeavesTheTraceOff) {
    // The operator ticks the box while the menu is open and cancels the file dialog.
    dialogs.whileModal = [&](QDialog&) {
        dialogs.saveAnswers.push_back(std::nullopt);
        Box("CheckBoxFileDebug")->click();
    };
    form().ImageZembraDblClick();
    ASSERT_EQ(dialogs.saveRequests.size(), 1u);
    const FileDialogRequest& request = dialogs.saveRequests[0];
    EXPECT_EQ(request.name, "SaveDialogFileDebug");
    EXPECT_EQ(request.defaultName, "Debug.TXT");
    EXPECT_EQ(request.defaultExt, "TXT");
    EXPECT_EQ(request.filter, "TXT|*.TXT|All|*.*");
    EXPECT_TRUE(request.confirmOverwrite);
    EXPECT_FALSE(Box("CheckBoxFileDebug")->isChecked());
    EXPECT_FALSE(windows->debugTrace.enabled());
    EXPECT_EQ(windows->debugTrace.fileName(), "");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(HiddenMenu, ChoosingAnExistingFileEmptiesItAndSwitchesTheTraceOn) {
    const std::string trace = dir / "Debug.TXT";
    WriteFile(trace, "old trace lines\r\n");
    dialogs.saveAnswers.push_back(trace);
    Box("CheckBoxFileDebug")->click();
    EXPECT_TRUE(Box("CheckBoxFileDebug")->isChecked());
    // The old lines are gone: the trace starts empty, or (Windows) with the code-page note.
    if (const std::string note = TextSettingsNote(); note.empty())
        EXPECT_FALSE(std::filesystem::exists(Native(trace)));
    else
        EXPECT_EQ(ReadFile(trace), "[I] " + note + "\r\n");
    const DebugTrace& t = windows->debugTrace;
    EXPECT_TRUE(t.enabled());
    EXPECT_FALSE(t.writeData());
    EXPECT_EQ(t.fileName(), trace);

    // The switched-on trace writes its lines into that file.
    const std::uint8_t bytes[] = {0x7E, 0x02, 0x7E};
    t.TraceLine(TraceEvent::Receive, -1, bytes, 3, 0.0);
    EXPECT_NE(ReadFile(trace).find("] 7E 02 7E "), std::string::npos);

    Box("CheckBoxDebugWriteInfo")->click();
    EXPECT_TRUE(t.writeData());

    // Unticking switches it off without a dialog; the state survives closing the menu.
    WriteFile(trace, "written while on\r\n");
    Box("CheckBoxFileDebug")->click();
    EXPECT_FALSE(t.enabled());
    t.TraceLine(TraceEvent::Receive, -1, bytes, 3, 0.0);  // writes nothing now
    EXPECT_EQ(ReadFile(trace), "written while on\r\n");
    EXPECT_EQ(dialogs.saveRequests.size(), 1u);

    // Ticking again asks for a file anew.
    const std::string other = dir / "second.TXT";
    dialogs.saveAnswers.push_back(other);
    Box("CheckBoxFileDebug")->click();
    EXPECT_EQ(dialogs.saveRequests.size(), 2u);
    EXPECT_EQ(t.fileName(), other);
    EXPECT_TRUE(t.enabled());
}

// The trace deletes the file it is given: a FIFO, or an image the form has selected, is
// refused with an error box, left as it is, and the box is unticked again.
TEST_F(HiddenMenu, TraceFileThatIsNoFreeRegularFileIsRefused) {
    const std::string image = dir / "font1.bin";
    WriteFile(image, "font bytes");
    ImageSlot font = form().model().ReadSlot(ImageSlot::Font1);
    font.path = image;
    form().model().ApplySlot(ImageSlot::Font1, font);
    std::vector<std::string> refused{image};
#ifndef _WIN32  // Windows has no FIFOs
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    refused.insert(refused.begin(), fifo);
#endif
    for (const std::string& chosen : refused) {
        dialogs.messages.clear();
        dialogs.saveAnswers.push_back(chosen);
        Box("CheckBoxFileDebug")->click();
        EXPECT_FALSE(Box("CheckBoxFileDebug")->isChecked()) << chosen;
        EXPECT_FALSE(windows->debugTrace.enabled()) << chosen;
        ASSERT_EQ(dialogs.messages.size(), 1u) << chosen;
        EXPECT_EQ(dialogs.messages[0].caption, "오류");
        EXPECT_NE(dialogs.messages[0].text.find(chosen), std::string::npos);
    }
    EXPECT_NE(dialogs.messages[0].text.find("이미지 파일"), std::string::npos);
#ifndef _WIN32
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
#endif
    EXPECT_EQ(ReadFile(image), "font bytes");
}

}  // namespace
}  // namespace zembra::test
