// zembra-cli against hostile input: trace paths that are inputs, signals that must stop the
// download like Ctrl-C, sizes and addresses beyond 32 bits, prescribed names leaving the
// image folder.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "cli/CliOptions.h"
#include "cli/ConsoleHost.h"
#include "cli/MultiCli.h"
#include "cli/MultiMode.h"
#include "cli/SingleCliRun.h"
#include "job/ConfigFile.h"
#include "platform/Helpers.h"
#include "tests/e2e/E2eFixture.h"

namespace zembra::e2e {
namespace {

constexpr char kNoPort[] = "/dev/zembra-none";

struct CliResult {
    int status = -1;
    std::string log;
};

CliResult RunCliLog(const std::vector<std::string>& args) {
    CliResult result;
    const CliParseResult parsed = ParseCliOptions(args);
    EXPECT_TRUE(parsed.ok()) << parsed.error;
    std::FILE* log = std::tmpfile();
    std::FILE* progress = std::tmpfile();
    std::FILE* input = std::tmpfile();
    {
        ConsoleHost host(parsed.options, ConsoleHost::Streams{log, progress, input});
        result.status = parsed.options.multi ? RunMultiCli(parsed.options, host)
                                             : RunSingleCli(parsed.options, host);
    }
    std::rewind(log);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, log)) > 0;)
        result.log.append(buffer, n);
    std::fclose(log);
    std::fclose(progress);
    std::fclose(input);
    return result;
}

int RunCliStatus(const std::vector<std::string>& args) {
    return RunCliLog(args).status;
}

// The real program's standard output and exit status.
CliResult RunProgram(const std::string& args) {
    CliResult result;
    std::FILE* pipe = ::popen((std::string(ZEMBRA_CLI_PATH) + " " + args + " 2>&1").c_str(), "r");
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        result.log.append(buffer, n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

using test::ReadAll;

// The trace file is emptied when the run begins, so it must never be an input, and it is not
// touched at all when the run does not begin.
TEST(CliHardening, TraceFileIsNeverAnInputAndUntouchedBeforeTheRun) {
    SimPhoneConfig config;
    auto phone = StartPhone(config);
    ImageFiles files;
    const Bytes font = RandomBytes(0x10000, 31);
    const std::string fontPath = files.Write("font1_0x200000.bin", font);
    // The font as its own trace file: refused, the file unchanged, nothing flashed.
    EXPECT_EQ(RunCliStatus({"--port", phone->DevicePath(), "--font1", fontPath, "--trace", fontPath,
                            "--startup-delay", "10"}),
              EXIT_JOB_REFUSED);
    EXPECT_EQ(ReadAll(fontPath), std::string(font.begin(), font.end()));
    EXPECT_EQ(phone->FlashRange(0x200000, 16), Bytes(16, 0xFF));
    // Another name of the same file (a hard link) is the same file.
    const std::string alias = files.File("alias.txt");
    ASSERT_EQ(::link(fontPath.c_str(), alias.c_str()), 0);
    EXPECT_EQ(RunCliStatus({"--port", phone->DevicePath(), "--font1", fontPath, "--trace", alias}),
              EXIT_JOB_REFUSED);
    EXPECT_EQ(ReadAll(fontPath).size(), font.size());
    // A port that does not open leaves an existing trace file as it was.
    const std::string trace = files.Write("Debug.TXT", Bytes{'o', 'l', 'd'});
    EXPECT_EQ(RunCliStatus({"--port", kNoPort, "--font1", fontPath, "--trace", trace}),
              EXIT_PORT_OPEN);
    EXPECT_EQ(ReadAll(trace), "old");
}

TEST(CliHardening, SizesAndAddressesBeyond32BitsAreRefusedBeforeThePortOpens) {
    ImageFiles files;
    const std::string font = files.Write("font1.bin", RandomBytes(0x10000, 32));
    for (const char* address : {"0x100000000", "4294967296", "0xFFFFFFFFFFFFFFFFFF", "0xFFFF8000"})
        EXPECT_EQ(RunCliStatus({"--port", kNoPort, "--font1", font, "--font1-address", address}),
                  EXIT_JOB_REFUSED)
            << address;
    const std::string tagged = files.Write("font2_0x100000000.bin", RandomBytes(0x10000, 33));
    EXPECT_EQ(RunCliStatus({"--port", kNoPort, "--font2", tagged}), EXIT_JOB_REFUSED);
    // 4 GiB + 64 KiB (a sparse file) at a small address.
    const std::string huge = files.File("huge.bin");
    {
        const int fd = ::open(huge.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, (off_t{1} << 32) + 0x10000), 0);
        ::close(fd);
    }
    EXPECT_EQ(RunCliStatus({"--port", kNoPort, "--font1", huge, "--font1-address", "0x10000"}),
              EXIT_JOB_REFUSED);
    // The highest address that still holds the image passes the check (the port then fails).
    EXPECT_EQ(RunCliStatus({"--port", kNoPort, "--font1", font, "--font1-address", "0xFFFF0000"}),
              EXIT_PORT_OPEN);
    // The multi Start runs the same check before its ports.
    EXPECT_EQ(RunCliStatus({"--multi", "--port", kNoPort, "--font1", font, "--font1-address",
                            "0x100000000", "--color", "never"}),
              EXIT_JOB_REFUSED);
}

TEST(CliHardening, PrescribedNamesStayInTheImageFolder) {
    ImageFiles files;
    const std::string inner = files.path() + "/images";
    ASSERT_EQ(::mkdir(inner.c_str(), 0700), 0);
    files.Write("secret.bin", RandomBytes(0x10000, 34));
    files.Write("images/plain.bin", RandomBytes(0x10000, 37));
    const std::string cfg = files.File("images/ZembraCFG.TXT");
    auto runWith = [&](const std::string& name) {
        // The other slots prescribe no file, so only the font 1 name can refuse the job.
        std::string text = "[폰트1] " + name + "\r\n[폰트1주소] 0x10000\r\n[코드] \r\n";
        for (int n = 2; n <= 6; ++n) text += FormatText("[폰트%d] \r\n", n);
        const std::string cp949 = Utf8ToCp949(text);
        files.Write("images/ZembraCFG.TXT", Bytes(cp949.begin(), cp949.end()));
        return RunCliStatus({"--config", cfg, "--port", kNoPort});
    };
    for (const char* name : {"../secret.bin", "..", "sub/x.bin", "..\\secret.bin"})
        EXPECT_EQ(runWith(name), EXIT_JOB_REFUSED) << name;
    EXPECT_EQ(runWith("plain.bin"), EXIT_PORT_OPEN);  // a plain name is looked up and taken
    ::rmdir(inner.c_str());
}

// A port that does not open is named as the operator gave it, with the system's reason, in
// both modes.
TEST(CliHardening, PortErrorsNameThePortGivenAndTheReason) {
    ImageFiles files;
    const std::string font = files.Write("font1.bin", RandomBytes(0x10000, 36));
    const std::string dir = files.path();
    const CliResult single =
        RunCliLog({"--port", "/dev/null", "--font1", font, "--font1-address", "0x10000"});
    EXPECT_EQ(single.status, EXIT_PORT_OPEN);
    EXPECT_NE(single.log.find("Can't open device /dev/null, Inappropriate ioctl for device"),
              std::string::npos)
        << single.log;
    const CliResult folder =
        RunCliLog({"--port", dir, "--font1", font, "--font1-address", "0x10000"});
    EXPECT_NE(folder.log.find("Can't open device " + dir + ", Is a directory"), std::string::npos)
        << folder.log;
    const CliResult multi = RunProgram("--multi --port /dev/null --font1 " + font +
                                       " --font1-address 0x10000 --color never");
    EXPECT_EQ(multi.status, EXIT_PORT_OPEN);
    EXPECT_NE(multi.log.find("Can't open device /dev/null, Inappropriate ioctl for device"),
              std::string::npos)
        << multi.log;
}

// The real program with its output on a pipe that the reader closes after one line
// ("zembra-cli ... | head -1"), and with SIGTERM: both stop the download like Ctrl-C.
int RunProgramUntil(const std::vector<std::string>& args, bool closeOutput, int signal) {
    int out[2];
    EXPECT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        ::close(out[0]);
        std::vector<char*> argv{const_cast<char*>(ZEMBRA_CLI_PATH)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(ZEMBRA_CLI_PATH, argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    // Wait for the first line (the port is open and the run has begun).
    std::string seen;
    char c;
    while (seen.find("다운로드 시작 요청") == std::string::npos && ::read(out[0], &c, 1) == 1)
        seen += c;
    if (closeOutput) ::close(out[0]);
    if (signal) ::kill(pid, signal);
    if (!closeOutput) {
        while (::read(out[0], &c, 1) == 1) {
        }
        ::close(out[0]);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

TEST(CliHardening, ClosedOutputAndSigtermStopLikeCtrlC) {
    SimPhoneConfig config;
    config.linkRateBps = 200000;  // about 25 KB/s: the 512 KiB font takes 20 s
    auto phone = StartPhone(config);
    ImageFiles files;
    const std::string font = files.Write("font1_0x200000.bin", RandomBytes(0x80000, 35));
    const std::vector<std::string> args{
        "--port", phone->DevicePath(), "--font1", font,      "--protocol",
        "normal", "--startup-delay",   "10",      "--color", "never"};
    EXPECT_EQ(RunProgramUntil(args, true, 0), EXIT_STOPPED);
    EXPECT_EQ(RunProgramUntil(args, false, SIGTERM), EXIT_STOPPED);
    std::vector<std::string> multi{"--multi"};
    multi.insert(multi.end(), args.begin(), args.end());
    EXPECT_EQ(RunProgramUntil(multi, false, SIGTERM), EXIT_STOPPED);
    // The status of a third Ctrl-C (the program quits at once) is documented in both modes.
    EXPECT_NE(CliHelpText().find(" 130  a third Ctrl-C"), std::string::npos);
    EXPECT_NE(MultiHelpText().find(" 130  a third Ctrl-C"), std::string::npos);
}

// Only a regular file that is none of the inputs and not the records database, or a new name,
// may be the trace file; anything else is refused before the port opens and left alone.
TEST(CliHardening, TraceFileMustBeAFreeRegularFile) {
    ImageFiles files;
    const std::string font = files.Write("font1_0x200000.bin", RandomBytes(0x10000, 41));
    const std::string fifo = files.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = files.File("folder");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string db = files.Write("records.sqlite", Bytes{'d', 'b'});
    // The database's journal files: written by every connection, also before they exist.
    const std::string wal = files.Write("records.sqlite-wal", Bytes{'w'});
    const std::vector<std::string> job{"--port", kNoPort, "--font1", font, "--records", db};
    for (const std::string& trace :
         {fifo, folder, db, wal, db + "-shm", files.File("./records.sqlite-journal"),
          std::string("/dev/null")}) {
        std::vector<std::string> args = job;
        args.insert(args.end(), {"--trace", trace});
        const CliResult run = RunCliLog(args);
        EXPECT_EQ(run.status, EXIT_JOB_REFUSED) << trace;
    }
    struct stat st {};
    EXPECT_TRUE(::stat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    EXPECT_TRUE(::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    EXPECT_EQ(ReadAll(db), "db");
    EXPECT_EQ(ReadAll(wal), "w");
    EXPECT_FALSE(std::filesystem::exists(db + "-shm"));
    // A new name passes (the port then fails, and nothing is created before the run).
    std::vector<std::string> args = job;
    args.insert(args.end(), {"--trace", files.File("new.txt")});
    EXPECT_EQ(RunCliStatus(args), EXIT_PORT_OPEN);
}

// Font addresses are whole numbers: trailing garbage, a sign or a bare "0x" refuse the job
// before the port opens, each with its own line; so does an empty font image.
TEST(CliHardening, MalformedFontAddressesAndEmptyFontsAreRefused) {
    ImageFiles files;
    const std::string font = files.Write("font1.bin", RandomBytes(0x10000, 42));
    const std::pair<const char*, const char*> cases[] = {{"0x30000z", "올바른 숫자가 아닙니다"},
                                                         {"30000 junk", "올바른 숫자가 아닙니다"},
                                                         {"0x40000.5", "올바른 숫자가 아닙니다"},
                                                         {"-0x1000", "음수"},
                                                         {"0x", "0x 다음의 숫자가 없습니다"}};
    for (const auto& [address, message] : cases) {
        const CliResult run = RunCliLog({"--port", kNoPort, "--no-records", "--font1", font,
                                         "--font1-address", address, "--no-auto-hex"});
        EXPECT_EQ(run.status, EXIT_JOB_REFUSED) << address;
        EXPECT_NE(run.log.find(message), std::string::npos) << address << "\n" << run.log;
    }
    // A configuration's address goes through the same check.
    DownloadJob job;
    job[ImageSlot::Font1].path = font;
    job[ImageSlot::Font1].addressText = "0x300000";
    const std::string cfg = files.File("ZembraCFG.TXT");
    ASSERT_TRUE(WriteConfigFile(cfg, job, DownloadSettings{}, ConfigFileKind::Full).ok);
    std::string text = ReadAll(cfg);
    const std::size_t at = text.find("0x300000\r\n");
    ASSERT_NE(at, std::string::npos);
    files.Write("ZembraCFG.TXT", text.insert(at + 8, "z"));
    const CliResult configured =
        RunCliLog({"--port", kNoPort, "--no-records", "--config", cfg, "--font1", font});
    EXPECT_EQ(configured.status, EXIT_JOB_REFUSED);
    EXPECT_NE(configured.log.find("폰트1 시작 주소가 올바른 숫자가 아닙니다"), std::string::npos)
        << configured.log;

    const std::string empty = files.Write("font2_0x400000.bin", Bytes{});
    const CliResult run =
        RunCliLog({"--port", kNoPort, "--no-records", "--font2", empty, "--no-size-check"});
    EXPECT_EQ(run.status, EXIT_JOB_REFUSED);
    EXPECT_NE(run.log.find("폰트2 파일의 크기가 0입니다"), std::string::npos) << run.log;
}

// The phone's negative answer to the final reset jump is a failure of its own (single and
// multi), while a run it accepts stays a success.
TEST(CliHardening, RefusedResetJumpIsAFailure) {
    ImageFiles files;
    const std::string code = files.Write("code.bin", CodeImage(0x10000, 0x1234, 0x100, 43));
    const std::vector<std::string> job{
        "--code", code, "--no-records", "--protocol", "normal", "--startup-delay", "10"};
    const auto single = [&](const SimulatedPhone& phone) {
        std::vector<std::string> args{"--port", phone.DevicePath()};
        args.insert(args.end(), job.begin(), job.end());
        return RunCliLog(args);
    };
    auto clean = StartPhone(SimPhoneConfig{});
    ASSERT_EQ(single(*clean).status, EXIT_OK);
    const std::uint64_t units = clean->Counters().units;  // the reset jump is the last one

    SimPhoneConfig naking;
    naking.faults.nakCount = 1;
    naking.faults.nakSkip = units - 1;
    auto phone = StartPhone(naking);
    const CliResult run = single(*phone);
    EXPECT_EQ(run.status, EXIT_RESET_REFUSED) << run.log;
    EXPECT_NE(run.log.find("리셋 코드 점프가 거부되었습니다"), std::string::npos) << run.log;

    auto multiPhone = StartPhone(naking);
    std::vector<std::string> args{"--multi",      "--port",          multiPhone->DevicePath(),
                                  "--color",      "never",           "--protocol",
                                  "normal",       "--code",          code,
                                  "--no-records", "--startup-delay", "10"};
    EXPECT_EQ(RunCliStatus(args), EXIT_PHONE_FAILED);
}

// An image replaced after the job check is not sent: the run ends as "file changed" before
// the font is erased, and the phone keeps its old flash there.
TEST(CliHardening, ImageReplacedAfterTheCheckIsNotSent) {
    ImageFiles files;
    const std::string code = files.Write("code.bin", CodeImage(0x10000, 0x1234, 0x100, 44));
    const std::string font = files.Write("font1_0x200000.bin", RandomBytes(0x10000, 45));
    const std::string other = files.Write("other.bin", RandomBytes(0x10000, 46));
    SimPhoneConfig config;
    config.eraseMs = 2000;  // the code image's erase holds the run while the font is swapped
    auto phone = StartPhone(config);
    std::thread swap([&] {
        ASSERT_TRUE(WaitForStage(*phone, SimStage::DownloadModule, std::chrono::seconds(20)));
        ASSERT_EQ(std::rename(other.c_str(), font.c_str()), 0);
    });
    const CliResult run = RunCliLog({"--port", phone->DevicePath(), "--code", code, "--font1", font,
                                     "--no-records", "--startup-delay", "10"});
    swap.join();
    EXPECT_EQ(run.status, EXIT_FILE_CHANGED) << run.log;
    EXPECT_NE(run.log.find("폰트1 파일이 검사 후에 바뀌었습니다"), std::string::npos) << run.log;
    EXPECT_EQ(phone->FlashRange(0x200000, 16), Bytes(16, 0xFF));
}

}  // namespace
}  // namespace zembra::e2e
