#include "AppTestSupport.h"

#include <QApplication>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

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
        const std::filesystem::path root = scratch_.path();
        for (const char* sub : {"ports", "serialcomm", "sysfs", "config", "data"})
            std::filesystem::create_directories(root / sub);
        setenv("ZEMBRA_PORT_DIR", (root / "ports").c_str(), 1);
        setenv("ZEMBRA_SERIAL_MAP_DIR", (root / "serialcomm").c_str(), 1);
        setenv("ZEMBRA_SYSFS_TTY_DIR", (root / "sysfs").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);  // download records
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
    std::string pattern = (std::filesystem::temp_directory_path() / "zembra-app-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good()) << path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
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
