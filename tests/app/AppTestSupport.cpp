#include "AppTestSupport.h"

#include <QApplication>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "platform/Helpers.h"
#include "tests/support/Environment.h"

namespace zembra::test {

namespace {

// One QApplication for the whole test program, on the offscreen platform unless the
// environment asks for another.
class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        // The window's tick reads the serial-device map and its dialogs remember folders in
        // the user's settings: both in folders of this test program's own.
        // (On Windows the map is the registry's and both folders are the roaming one: these
        // change nothing there.)
        for (const char* sub : {"ports", "serialcomm", "sysfs", "config", "data"})
            std::filesystem::create_directories(scratch_.path() / sub);
        SetEnvironment("ZEMBRA_PORT_DIR", scratch_ / "ports");
        SetEnvironment("ZEMBRA_SERIAL_MAP_DIR", scratch_ / "serialcomm");
        SetEnvironment("ZEMBRA_SYSFS_TTY_DIR", scratch_ / "sysfs");
        SetEnvironment("XDG_CONFIG_HOME", scratch_ / "config");
        SetEnvironment("XDG_DATA_HOME", scratch_ / "data");  // download records
        static int argc = 1;
        static char name[] = "test_app";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

  private:
    TempDir scratch_;
    std::unique_ptr<QApplication> app_;
};

::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

int TestDialogHost::ShowMessage(const std::string& text, const std::string& caption, int style) {
    messages.push_back({text, caption, style});
    if (whileMessage) whileMessage(messages.back());
    if (messageAnswers.empty()) return mb::kIdOk;
    const int answer = messageAnswers.front();
    messageAnswers.pop_front();
    return answer;
}

std::optional<std::string> TestDialogHost::GetOpenFileName(const FileDialogRequest& request) {
    openRequests.push_back(request);
    if (openAnswers.empty()) {
        ADD_FAILURE() << "unexpected open dialog " << request.name;
        return std::nullopt;
    }
    auto answer = openAnswers.front();
    openAnswers.pop_front();
    return answer;
}

std::optional<std::string> TestDialogHost::GetSaveFileName(const FileDialogRequest& request) {
    saveRequests.push_back(request);
    if (saveAnswers.empty()) {
        ADD_FAILURE() << "unexpected save dialog " << request.name;
        return std::nullopt;
    }
    auto answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
}

void TestDialogHost::ShowModal(QDialog& dialog) {
    modalShown.push_back(dialog.objectName().toStdString());
    if (whileModal) whileModal(dialog);
}

TempDir::TempDir() {
    std::string root = ScratchRoot();
    std::replace(root.begin(), root.end(), '\\', '/');
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        utf8_ = FormatText("%szembra-app-%08x", root.c_str(), entropy());
        path_ = Native(utf8_);
        if (std::filesystem::create_directory(path_)) return;
    }
    throw std::runtime_error("no scratch folder under " + root);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(Native(path), std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good()) << path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(Native(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string CodeImage(std::size_t size, std::uint16_t version, std::uint32_t boot) {
    std::string bytes(size, '\x5A');
    if (size >= 20) {
        bytes[size - 20] = static_cast<char>(version & 0xFF);
        bytes[size - 19] = static_cast<char>(version >> 8);
        for (int i = 0; i < 4; ++i) bytes[size - 16 + i] = static_cast<char>(boot >> (8 * i));
    }
    return bytes;
}

WindowTest::WindowTest() : programPath(dir / "Tool.exe") {
    // Short engine waits keep the download tests fast.
    timings.engine.startupSleepMs = 10;
    timings.engine.askPollMs = 5;
    timings.multi.wakeDelayMs = 30;
    timings.multi.staggerMs = 5;
    Recreate();
}

WindowTest::~WindowTest() {
    windows.reset();
}

void WindowTest::Recreate() {
    windows.reset();
    MainFormOptions options;
    options.programPath = programPath;
    options.dialogs = &dialogs;
    windows = std::make_unique<AppWindows>(options, timings);
}

std::vector<RichEditLog::Line> WindowTest::PaneLines(const char* name) const {
    auto* pane = windows->mainForm->findChild<RichEditLog*>(QString::fromLatin1(name));
    EXPECT_NE(pane, nullptr) << name;
    return pane ? pane->Lines() : std::vector<RichEditLog::Line>{};
}

std::vector<std::string> WindowTest::LoggedTexts(const char* name) const {
    std::vector<std::string> texts;
    const auto lines = PaneLines(name);
    for (std::size_t i = 4; i < lines.size(); ++i) texts.push_back(lines[i].text);
    return texts;
}

}  // namespace zembra::test
