#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialog>
#include <QObject>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppWindows.h"
#include "app/DialogHost.h"
#include "app/RichEditLog.h"
#include "app/Zembra3MainUnit.h"
#include "tests/support/NativePath.h"

namespace zembra::test {

// Answers the window's dialogs from queues and records what was asked. An open or save
// dialog with no queued answer fails the test and is treated as cancelled, so nothing ever
// blocks on a real modal dialog.
class TestDialogHost : public DialogHost {
  public:
    struct Message {
        std::string text;
        std::string caption;
        int style;
    };
    std::vector<Message> messages;
    std::deque<int> messageAnswers;                    // empty: mb::kIdOk
    std::function<void(const Message&)> whileMessage;  // runs while a box is "open"
    std::vector<FileDialogRequest> openRequests, saveRequests;
    std::deque<std::optional<std::string>> openAnswers, saveAnswers;
    std::vector<std::string> modalShown;       // objectName of each dialog shown modally
    std::function<void(QDialog&)> whileModal;  // runs "inside" the modal showing

    int ShowMessage(const std::string& text, const std::string& caption, int style) override;
    std::optional<std::string> GetOpenFileName(const FileDialogRequest& request) override;
    std::optional<std::string> GetSaveFileName(const FileDialogRequest& request) override;
    void ShowModal(QDialog& dialog) override;
};

// A fresh folder below the system's temporary folder, removed afterwards. Its names are
// UTF-8 with '/' between folders, as the window keeps paths on every system.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }
    const std::string& utf8() const { return utf8_; }
    std::string operator/(const std::string& name) const { return utf8_ + "/" + name; }

  private:
    std::string utf8_;
    std::filesystem::path path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
// A code image of the given size whose trailer holds the version word and boot location.
std::string CodeImage(std::size_t size, std::uint16_t version, std::uint32_t boot);

// The three windows built as the program builds them, with the program path in a temporary
// folder (so its automatic configuration file is <dir>/Toolcfg.txt).
class WindowTest : public ::testing::Test {
  protected:
    WindowTest();
    ~WindowTest() override;

    // Builds the windows (done by the constructor; tests that need a file before start-up
    // call Recreate after writing it).
    void Recreate();

    template <class T>
    T* Find(const char* name) const {
        T* widget = windows->mainForm->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    // Lines of a log pane by name (RichEditOutput, RichEdit21).
    std::vector<RichEditLog::Line> PaneLines(const char* name) const;
    // Lines after the four banner lines.
    std::vector<std::string> LoggedTexts(const char* name) const;

    TMainForm& form() const { return *windows->mainForm; }

    TempDir dir;
    std::string programPath;
    DownloadTimings timings;
    TestDialogHost dialogs;
    std::unique_ptr<AppWindows> windows;
};

}  // namespace zembra::test
