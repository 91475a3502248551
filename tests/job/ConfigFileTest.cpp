#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>

#include "job/ConfigFile.h"
#include "platform/Helpers.h"
#include "tests/support/TestSupport.h"

// Calls of umask() in this program: it takes the C library's place, see
// SaveTakesTheModeOfANewFileWithoutSettingTheMask.
namespace zembra {
std::atomic<int> umaskCalls{0};
}

extern "C" mode_t umask(mode_t mask) noexcept {
    ++zembra::umaskCalls;
    return static_cast<mode_t>(::syscall(SYS_umask, mask));
}

namespace zembra {
namespace {

using test::ReadAll;
using TempDir = test::ScratchDir;

std::string Cp(const std::string& utf8) {
    return Utf8ToCp949(utf8);
}

// A job and settings with every field away from its initial value.
void FillEverything(DownloadJob& job, DownloadSettings& s) {
    job.modelName = "SPH 모델  X";
    job.change = true;
    job[ImageSlot::Code].path = "/images/main_v2.bin";
    job[ImageSlot::Font1].path = "C:\\fonts\\font1_0x10000.bin";
    job[ImageSlot::Font2].path = "font2.bin";
    job[ImageSlot::Font4].path = "/images/한글폰트.bin";
    job[ImageSlot::Font1].addressText = "0x10000";
    job[ImageSlot::Font2].addressText = "10";  // typed without prefix: saved as 0xA
    job[ImageSlot::Font4].addressText = "0X1f";
    s.usbProtocol = ProtocolChoice::Normal;
    s.serialProtocol = ProtocolChoice::Press;
    s.packetResponseWaitMs = "15000";
    s.normalResponseWaitMs = "700";
    s.cmdGapMs = "50";
    s.eraseWaitSec = "900";
    s.multiEraseExcessSec = "120";
    s.showInvalidFcsNak = true;
    s.checkBinSize64K = false;
    s.allowFont0Address = true;
    s.autoHexPrefix = false;
}

TEST(ConfigFile, FullFileBytesOnDisk) {
    TempDir dir;
    DownloadJob job;
    DownloadSettings settings;
    FillEverything(job, settings);
    std::string path = dir.File("ZembraCFG.TXT");
    ASSERT_TRUE(WriteConfigFile(path, job, settings, ConfigFileKind::Full).ok);
    std::string bytes = ReadAll(path);

    std::string expected =
        Cp("// 이 파일은 Zembra 환경 파일 입니다.\r\n"
           "[로드시띄우는창]  여기가 내용 [로드시띄우는창] 내용을 수정하세요\r\n"
           "[모델명] SPH 모델  X\r\n"
           "[코드] main_v2.bin\r\n"
           "[Change] 1\r\n"
           "[폰트1] font1_0x10000.bin\r\n"
           "[폰트2] font2.bin\r\n"
           "[폰트3] \r\n"
           "[폰트4] 한글폰트.bin\r\n"
           "[폰트5] \r\n"
           "[폰트6] \r\n"
           "[폰트1주소] 0x10000\r\n"
           "[폰트2주소] 0xA\r\n"
           "[폰트3주소] \r\n"
           "[폰트4주소] 0x1F\r\n"
           "[폰트5주소] \r\n"
           "[폰트6주소] \r\n"
           "\r\n"
           "[USB다운로드규약] 2\r\n"
           "[Serial다운로드규약] 1\r\n"
           "[패킷CMD응답대기시간ms] 15000\r\n"
           "[일반CMD응답대기시간ms] 700\r\n"
           "[CMD사이의대기시간ms] 50\r\n"
           "[삭제요청대기시간sec] 900\r\n"
           "[NAK_INVALID_FCS표시하기] 1\r\n"
           "[멀티시삭제시간의초과sec] 120\r\n"
           "[BinSize64K검사하기] 0\r\n"
           "[Font0주소다운로드허용] 1\r\n"
           "[주소에0x자동으로붙이기] 0\r\n");
    EXPECT_EQ(bytes, expected);

    // The key bytes are CP949, checked byte for byte rather than through the converter.
    const std::string model = "\x5B\xB8\xF0\xB5\xA8\xB8\xED\x5D";  // [모델명]
    EXPECT_NE(bytes.find(model + " SPH "), std::string::npos);
    const std::string font1 = "\x5B\xC6\xF9\xC6\xAE\x31\x5D";  // [폰트1]
    EXPECT_NE(bytes.find(font1 + " font1_0x10000.bin\r\n"), std::string::npos);
    EXPECT_EQ(bytes.find("모델명"), std::string::npos);  // nothing left in UTF-8
}

TEST(ConfigFile, SettingsOnlyFile) {
    TempDir dir;
    DownloadJob job;
    DownloadSettings settings;
    FillEverything(job, settings);
    std::string path = dir.File("zembracfg.txt");
    ASSERT_TRUE(WriteConfigFile(path, job, settings, ConfigFileKind::SettingsOnly).ok);
    std::string bytes = ReadAll(path);
    EXPECT_EQ(
        bytes.rfind(Cp("// 이 파일은 Zembra 환경 파일 입니다.\r\n\r\n[USB다운로드규약] 2\r\n"), 0),
        0u);
    EXPECT_EQ(bytes.find(Cp("[모델명]")), std::string::npos);
    EXPECT_EQ(bytes.find(Cp("[로드시띄우는창]")), std::string::npos);
    int lines = 0;
    for (std::size_t p = 0; (p = bytes.find("\r\n", p)) != std::string::npos; p += 2) ++lines;
    EXPECT_EQ(lines, 13);

    // The automatic load applies the settings and touches neither the job's configured
    // state nor the slots.
    DownloadJob other;
    DownloadSettings loaded;
    ConfigReadResult r = ReadConfigFile(path, ConfigSource::Auto, other, loaded);
    ASSERT_TRUE(r.opened);
    EXPECT_EQ(loaded, settings);
    EXPECT_FALSE(other.configLoaded);
    EXPECT_EQ(other.configPath, "");
    EXPECT_EQ(other[ImageSlot::Code].expectedName, ANY_FILE);
    EXPECT_FALSE(r.popUpKeySeen);
    EXPECT_FALSE(r.showPopUp);
}

TEST(ConfigFile, RoundTripRestoresEveryField) {
    TempDir dir;
    DownloadJob job;
    DownloadSettings settings;
    FillEverything(job, settings);
    std::string path = dir.File("full.txt");
    ASSERT_TRUE(WriteConfigFile(path, job, settings, ConfigFileKind::Full).ok);

    DownloadJob back;
    back[ImageSlot::Font3].addressText = "0x999";  // a dialog load empties every address
    DownloadSettings backSettings;
    ConfigReadResult r = ReadConfigFile(path, ConfigSource::Dialog, back, backSettings);
    ASSERT_TRUE(r.opened);
    EXPECT_EQ(r.size, static_cast<std::int64_t>(ReadAll(path).size()));
    EXPECT_EQ(r.log.text,
              FormatText("환경파일읽기:%s 크기:0x%llX,%lld 바이트", path.c_str(),
                         static_cast<unsigned long long>(r.size), static_cast<long long>(r.size)));
    EXPECT_EQ(r.log.colour, 0u);

    EXPECT_EQ(backSettings, settings);
    EXPECT_EQ(back.modelName, "SPH 모델  X");
    EXPECT_TRUE(back.change);
    EXPECT_TRUE(back.configLoaded);
    EXPECT_EQ(back.configPath, path);
    EXPECT_EQ(back[ImageSlot::Code].expectedName, "main_v2.bin");
    EXPECT_EQ(back[ImageSlot::Font1].expectedName, "font1_0x10000.bin");
    EXPECT_EQ(back[ImageSlot::Font2].expectedName, "font2.bin");
    EXPECT_EQ(back[ImageSlot::Font3].expectedName, "");  // must stay empty
    EXPECT_EQ(back[ImageSlot::Font4].expectedName, "한글폰트.bin");
    EXPECT_EQ(back[ImageSlot::Font1].addressText, "0x10000");
    EXPECT_EQ(back[ImageSlot::Font2].addressText, "0xA");
    EXPECT_EQ(back[ImageSlot::Font3].addressText, "");
    EXPECT_EQ(back[ImageSlot::Font4].addressText, "0x1F");
    // The fixed pop-up line: one blank stays in front, and it is shown.
    EXPECT_TRUE(r.popUpKeySeen);
    EXPECT_EQ(r.popUpText, " 여기가 내용 [로드시띄우는창] 내용을 수정하세요");
    EXPECT_TRUE(r.showPopUp);

    // Unchecked flags and the initial protocol choices survive the trip as well.
    DownloadSettings defaults;
    ASSERT_TRUE(WriteConfigFile(path, job, defaults, ConfigFileKind::Full).ok);
    ReadConfigFile(path, ConfigSource::Auto, back, backSettings);
    EXPECT_EQ(backSettings, defaults);

    // A saved time of 0 leaves the field as it was.
    DownloadSettings zero;
    zero.cmdGapMs = "0";
    ASSERT_TRUE(WriteConfigFile(path, job, zero, ConfigFileKind::SettingsOnly).ok);
    DownloadSettings target;
    target.cmdGapMs = "333";
    ReadConfigFile(path, ConfigSource::Auto, back, target);
    EXPECT_EQ(target.cmdGapMs, "333");
}

TEST(ConfigFile, ReleaseResetsConfiguredState) {
    DownloadJob job;
    job.configLoaded = true;
    job.configPath = "/c.txt";
    job.modelName = "M";
    job.change = true;
    job[ImageSlot::Font1].expectedName = "";
    job[ImageSlot::Font1].addressText = "0x10";
    ReleaseConfig(job);
    EXPECT_FALSE(job.configLoaded);
    EXPECT_EQ(job.configPath, "");
    EXPECT_EQ(job.modelName, "");
    EXPECT_EQ(job[ImageSlot::Font1].expectedName, ANY_FILE);
    EXPECT_TRUE(job.change);
    EXPECT_EQ(job[ImageSlot::Font1].addressText, "0x10");
}

struct Loaded {
    DownloadJob job;
    DownloadSettings settings;
    ConfigReadResult result;
};

Loaded Load(const TempDir& dir, const std::string& bytes,
            ConfigSource source = ConfigSource::Auto) {
    Loaded l;
    std::string path = dir.Write("in.txt", bytes);
    l.result = ReadConfigFile(path, source, l.job, l.settings);
    EXPECT_TRUE(l.result.opened);
    return l;
}

TEST(ConfigFile, TextValueBlanks) {
    TempDir dir;
    EXPECT_EQ(Load(dir, Cp("[모델명] two words\r\n")).job.modelName, "two words");
    EXPECT_EQ(Load(dir, Cp("[모델명]  lead\r\n")).job.modelName, " lead");
    // The first 0x20 is left out wherever it stands; a tab is no blank for this rule.
    EXPECT_EQ(Load(dir, Cp("[모델명]\tab cd\r\n")).job.modelName, "\tabcd");
    EXPECT_EQ(Load(dir, Cp("[모델명]\r\n[코드] x\r\n")).job.modelName, "");
    // Keys may be indented and surrounded by stray words.
    Loaded l = Load(dir, Cp("stray words\r\n\r\n   \t[코드] main.bin\r\nmore [Change] 1\n"));
    EXPECT_EQ(l.job[ImageSlot::Code].expectedName, "main.bin");
    EXPECT_TRUE(l.job.change);
    // A key glued to other text is no key.
    EXPECT_EQ(Load(dir, Cp("[모델명]x\r\n")).job.modelName, "");
}

TEST(ConfigFile, Comments) {
    TempDir dir;
    // "//" as a word skips the whole line.
    Loaded l = Load(dir, Cp("// [모델명] hidden\r\n[코드] shown\r\n"));
    EXPECT_EQ(l.job.modelName, "");
    EXPECT_EQ(l.job[ImageSlot::Code].expectedName, "shown");
    // "//" against a key is one word that matches nothing; the rest is read word by word.
    l = Load(dir, Cp("//[모델명] a [코드] b c\r\n"));
    EXPECT_EQ(l.job.modelName, "");
    EXPECT_EQ(l.job[ImageSlot::Code].expectedName, "b c");
    // A comment word in the middle of a line skips the rest of that line only.
    l = Load(dir, Cp("junk // [모델명] no\r\n[모델명] yes"));
    EXPECT_EQ(l.job.modelName, "yes");
    // A comment on the last line without a line break.
    l = Load(dir, Cp("[모델명] m\r\n// end"));
    EXPECT_EQ(l.job.modelName, "m");
}

TEST(ConfigFile, NumbersAndFlags) {
    TempDir dir;
    Loaded l = Load(dir, Cp("[패킷CMD응답대기시간ms] 0\r\n[CMD사이의대기시간ms]\r\n"
                            "[일반CMD응답대기시간ms]   750ms\r\n[삭제요청대기시간sec] -3\r\n"
                            "[멀티시삭제시간의초과sec] abc\r\n"));
    EXPECT_EQ(l.settings.packetResponseWaitMs, "20000");  // 0: unchanged
    EXPECT_EQ(l.settings.cmdGapMs, "200");                // nothing: unchanged
    EXPECT_EQ(l.settings.normalResponseWaitMs, "750");
    EXPECT_EQ(l.settings.eraseWaitSec, "-3");
    EXPECT_EQ(l.settings.multiEraseExcessSec, "300");
    l = Load(dir, Cp("[패킷CMD응답대기시간ms] 99999999999999999999\r\n"));
    EXPECT_EQ(l.settings.packetResponseWaitMs, "2147483647");

    EXPECT_EQ(Load(dir, Cp("[USB다운로드규약] 7\r\n")).settings.usbProtocol, ProtocolChoice::Auto);
    EXPECT_EQ(Load(dir, Cp("[USB다운로드규약] 1\r\n")).settings.usbProtocol, ProtocolChoice::Press);
    EXPECT_EQ(Load(dir, Cp("[USB다운로드규약] 2\r\n")).settings.usbProtocol,
              ProtocolChoice::Normal);
    EXPECT_EQ(Load(dir, Cp("[Serial다운로드규약] 2\r\n")).settings.serialProtocol,
              ProtocolChoice::Normal);
    EXPECT_EQ(Load(dir, Cp("[Serial다운로드규약] -1\r\n")).settings.serialProtocol,
              ProtocolChoice::Auto);

    l = Load(dir, Cp("[BinSize64K검사하기] 0\r\n[Font0주소다운로드허용] 5\r\n"
                     "[주소에0x자동으로붙이기]\r\n[NAK_INVALID_FCS표시하기] -1\r\n[Change] x\r\n"));
    EXPECT_FALSE(l.settings.checkBinSize64K);
    EXPECT_TRUE(l.settings.allowFont0Address);
    EXPECT_FALSE(l.settings.autoHexPrefix);  // nothing reads as 0: off
    EXPECT_TRUE(l.settings.showInvalidFcsNak);
    EXPECT_FALSE(l.job.change);
}

TEST(ConfigFile, LastLineRepeatedKeysAndLineEnds) {
    TempDir dir;
    EXPECT_EQ(Load(dir, Cp("[모델명] end")).job.modelName, "end");
    EXPECT_EQ(Load(dir, Cp("[CMD사이의대기시간ms] 42")).settings.cmdGapMs, "42");
    Loaded l =
        Load(dir, Cp("[모델명] first\r\n[모델명] second\r\n[폰트2주소] 0x1\r\n[폰트2주소] 0x2"));
    EXPECT_EQ(l.job.modelName, "second");
    EXPECT_EQ(l.job[ImageSlot::Font2].addressText, "0x2");
    // LF only, and a lone CR ending a value.
    l = Load(dir, Cp("[모델명] unix\n[코드] a.bin\rtrail [Change] 1\n"));
    EXPECT_EQ(l.job.modelName, "unix");
    EXPECT_EQ(l.job[ImageSlot::Code].expectedName, "a.bin");
    EXPECT_TRUE(l.job.change);
}

TEST(ConfigFile, FileFromAnotherProgramWithCrLf) {
    TempDir dir;
    // As a Windows editor saves it: CR LF, tabs, blank lines, keys in another order.
    std::string text =
        "\r\n"
        "// Zembra settings for line 3\r\n"
        "\t[폰트1주소] 0x20000\r\n"
        "[USB다운로드규약] 1\r\n"
        "\r\n"
        "[폰트1] FONT1.BIN\r\n"
        "[모델명] SCH-B100\r\n"
        "[삭제요청대기시간sec] 1200\r\n";
    Loaded l = Load(dir, Cp(text), ConfigSource::Dialog);
    EXPECT_EQ(l.job[ImageSlot::Font1].addressText, "0x20000");
    EXPECT_EQ(l.job[ImageSlot::Font1].expectedName, "FONT1.BIN");
    EXPECT_EQ(l.job.modelName, "SCH-B100");
    EXPECT_EQ(l.settings.usbProtocol, ProtocolChoice::Press);
    EXPECT_EQ(l.settings.eraseWaitSec, "1200");
    // Keys that do not occur leave their fields unchanged.
    EXPECT_EQ(l.job[ImageSlot::Code].expectedName, ANY_FILE);
    EXPECT_EQ(l.settings.cmdGapMs, "200");
    EXPECT_TRUE(l.job.configLoaded);
}

TEST(ConfigFile, PopUpText) {
    TempDir dir;
    Loaded l = Load(dir, Cp("[로드시띄우는창]    \r\n"));
    EXPECT_TRUE(l.result.popUpKeySeen);
    EXPECT_EQ(l.result.popUpText, "   ");
    EXPECT_FALSE(l.result.showPopUp);

    l = Load(dir, Cp("[로드시띄우는창] 공지 사항\r\n[로드시띄우는창] \r\n"));
    EXPECT_EQ(l.result.popUpText, "");  // the last key's value fills the pane
    EXPECT_TRUE(l.result.showPopUp);    // shown once: one of them was not blank
}

TEST(ConfigFile, ReaderSurvivesAnything) {
    TempDir dir;
    // Binary garbage with NUL bytes, invalid CP949 and a key in the middle.
    std::string garbage;
    for (int i = 0; i < 200000; ++i) garbage += static_cast<char>((i * 7919 + 13) % 256);
    garbage += "\r\n" + Cp("[모델명] ") + std::string("ok\x00\x81\xFF", 5) + "\r\n";
    garbage += std::string(1000, '\0');
    Loaded l = Load(dir, garbage);
    EXPECT_EQ(l.job.modelName.substr(0, 3), std::string("ok\0", 3));
    EXPECT_NE(l.job.modelName.find("\xEF\xBF\xBD"), std::string::npos);  // replaced bytes

    // A word and a value of several megabytes: capped, the next line still read.
    std::string hugeWord(3 * 1024 * 1024, 'w');
    std::string huge = hugeWord + "\r\n" + Cp("[모델명] ") + std::string(2 * 1024 * 1024, 'm') +
                       Cp(" [코드] hidden\r\n[폰트1] next\r\n");
    l = Load(dir, huge);
    // The stretch of 4096 characters includes the blank in front of the value.
    EXPECT_EQ(l.job.modelName, std::string(CONFIG_MAX_VALUE - 1, 'm'));
    EXPECT_EQ(l.job[ImageSlot::Code].expectedName, ANY_FILE);  // inside the skipped rest
    EXPECT_EQ(l.job[ImageSlot::Font1].expectedName, "next");

    // A number line of megabytes.
    l = Load(dir, Cp("[CMD사이의대기시간ms] ") + std::string(5 * 1024 * 1024, '9') + "\r\n");
    EXPECT_EQ(l.settings.cmdGapMs, "2147483647");

    EXPECT_TRUE(Load(dir, "").result.opened);
    EXPECT_EQ(Load(dir, "").result.size, 0);
}

TEST(ConfigFile, VanishedOrUnreadableFileIsNotRead) {
    TempDir dir;
    DownloadJob job;
    job[ImageSlot::Font1].addressText = "0x10";
    DownloadSettings settings;
    for (const std::string& path : {dir.File("gone.txt"), dir.path()}) {
        ConfigReadResult r = ReadConfigFile(path, ConfigSource::Dialog, job, settings);
        EXPECT_FALSE(r.opened) << path;
        EXPECT_EQ(r.log.colour, 255u);
        EXPECT_NE(r.log.text.find(path), std::string::npos);
        EXPECT_FALSE(job.configLoaded);
        EXPECT_EQ(job[ImageSlot::Font1].addressText, "0x10");
        EXPECT_FALSE(CanOpenForReading(path));
    }
    EXPECT_TRUE(CanOpenForReading(dir.Write("here.txt", "x")));
}

TEST(ConfigFile, SaveFailuresLeaveTheOldFileIntact) {
    TempDir dir;
    std::string path = dir.Write("keep.txt", "old content\r\n");
    DownloadJob job;
    DownloadSettings settings;

    // A time field that is not a number: refused before the file is touched.
    settings.normalResponseWaitMs = "5OO";
    ConfigWriteResult r = WriteConfigFile(path, job, settings, ConfigFileKind::Full);
    EXPECT_FALSE(r.ok);
    ASSERT_TRUE(r.conversionError.has_value());
    EXPECT_EQ(r.conversionError->field, "normalResponseWaitMs");
    EXPECT_EQ(r.conversionError->text, "5OO");
    EXPECT_EQ(ReadAll(path), "old content\r\n");

    // A folder that cannot be written to (root writes anyway, so only as a normal user).
    settings = DownloadSettings{};
    if (::geteuid() != 0) {
        ::chmod(dir.path().c_str(), 0555);
        r = WriteConfigFile(path, job, settings, ConfigFileKind::Full);
        ::chmod(dir.path().c_str(), 0755);
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.ioError.empty());
        EXPECT_EQ(ReadAll(path), "old content\r\n");
    }
    // The disk fills up halfway through writing (a file-size limit stands in for it).
    {
        struct rlimit old;
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
        void (*oldHandler)(int) = ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = old;
        small.rlim_cur = 100;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        r = WriteConfigFile(path, job, settings, ConfigFileKind::Full);
        ::setrlimit(RLIMIT_FSIZE, &old);
        ::signal(SIGXFSZ, oldHandler);
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.ioError.empty());
        EXPECT_EQ(ReadAll(path), "old content\r\n");
    }
    // A missing folder and a directory in place of the file.
    EXPECT_FALSE(WriteConfigFile(dir.File("no/such.txt"), job, settings, ConfigFileKind::Full).ok);
    std::filesystem::create_directory(dir.File("adir"));
    EXPECT_FALSE(WriteConfigFile(dir.File("adir"), job, settings, ConfigFileKind::Full).ok);

    // A successful save replaces the content and leaves no temporary file behind.
    ASSERT_TRUE(WriteConfigFile(path, job, settings, ConfigFileKind::Full).ok);
    EXPECT_EQ(ReadAll(path).rfind(Cp("// 이 파일은"), 0), 0u);
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 2);  // keep.txt and adir
}

TEST(ConfigFile, SaveKeepsPermissionsAndFollowsLinks) {
    TempDir dir;
    std::string real = dir.Write("real.txt", "old");
    ::chmod(real.c_str(), 0640);
    std::string link = dir.File("link.txt");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    ASSERT_TRUE(
        WriteConfigFile(link, DownloadJob{}, DownloadSettings{}, ConfigFileKind::SettingsOnly).ok);
    struct stat st;
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_NE(ReadAll(real), "old");
}

// A new file gets the mode of the process's mask, and saving never sets the mask, not even
// for a moment: umask() is process-wide, so another thread creating a file meanwhile would
// get mode 0666. This program's umask() counts its calls.

TEST(ConfigFile, SaveTakesTheModeOfANewFileWithoutSettingTheMask) {
    TempDir dir;
    const mode_t old = static_cast<mode_t>(::syscall(SYS_umask, 027));
    const int before = umaskCalls.load();
    const std::string path = dir.File("new.txt");
    ASSERT_TRUE(
        WriteConfigFile(path, DownloadJob{}, DownloadSettings{}, ConfigFileKind::SettingsOnly).ok);
    EXPECT_EQ(umaskCalls.load(), before);
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    ::syscall(SYS_umask, old);
}

TEST(ConfigFile, AutoConfigPath) {
    EXPECT_EQ(AutoConfigPathFor("C:\\Zembra\\Zembra.exe"), "C:\\Zembra\\Zembracfg.txt");
    EXPECT_EQ(AutoConfigPathFor("/opt/zembra/bin/zembra"), "/opt/zembra/bin/zembracfg.txt");
    EXPECT_EQ(AutoConfigPathFor("/opt/z.d/zembra"), "/opt/z.d/zembracfg.txt");
    EXPECT_EQ(AutoConfigPathFor("/opt/zembra.bin"), "/opt/zembracfg.txt");
    std::string own = autoConfigPath();
    EXPECT_EQ(own, ProgramPath() + "cfg.txt");  // test programs have no extension
}

}  // namespace
}  // namespace zembra
