#include <stdlib.h>

#include <cstdio>
#include <string>

#include "cli/CliOptions.h"
#include "cli/ConsoleHost.h"
#include "cli/SingleCliRun.h"
#include "job/ConfigFile.h"
#include "platform/Helpers.h"
#include "tests/e2e/E2eFixture.h"

namespace zembra::e2e {
namespace {

std::string Contents(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) out.append(buffer, n);
    return out;
}

// zembra-cli's single run with its output in files.
struct CliRun {
    int status = -1;
    std::string log;
    std::string progress;
};

CliRun RunCli(const std::vector<std::string>& args) {
    CliRun run;
    const CliParseResult parsed = ParseCliOptions(args);
    EXPECT_TRUE(parsed.ok()) << parsed.error;
    if (!parsed.ok()) return run;
    std::FILE* log = std::tmpfile();
    std::FILE* progress = std::tmpfile();
    std::FILE* input = std::tmpfile();
    {
        ConsoleHost host(parsed.options, ConsoleHost::Streams{log, progress, input});
        run.status = RunSingleCli(parsed.options, host);
    }
    run.log = Contents(log);
    run.progress = Contents(progress);
    std::fclose(log);
    std::fclose(progress);
    std::fclose(input);
    return run;
}

std::vector<std::string> Fast(std::vector<std::string> args) {
    for (const char* a :
         {"--gap", "1", "--command-wait", "300", "--packet-wait", "500", "--startup-delay", "10"})
        args.push_back(a);
    return args;
}

TEST(CliOptionsTest, ParsesAndRefuses) {
    const CliParseResult ok =
        ParseCliOptions({"--port", "COM7", "--code=c.bin", "--font2", "f.bin", "--font2-address",
                         "10000", "--serial", "--protocol", "compressed", "--gap=5", "--yes",
                         "--trace", "t.txt", "--trace-data", "--no-size-check"});
    ASSERT_TRUE(ok.ok()) << ok.error;
    EXPECT_EQ(ok.options.ports, (std::vector<std::string>{"COM7"}));
    EXPECT_EQ(ok.options.paths[0], "c.bin");
    EXPECT_EQ(ok.options.paths[2], "f.bin");
    EXPECT_EQ(*ok.options.addresses[2], "10000");
    EXPECT_EQ(*ok.options.link, Link::Serial);
    EXPECT_EQ(*ok.options.protocol, ProtocolChoice::Press);
    EXPECT_EQ(*ok.options.cmdGapMs, "5");
    EXPECT_EQ(ok.options.answer, AnswerMode::Yes);
    EXPECT_TRUE(ok.options.traceData);
    EXPECT_FALSE(*ok.options.checkBinSize64K);

    EXPECT_FALSE(ParseCliOptions({"--code", "c.bin"}).ok());  // no port
    EXPECT_FALSE(ParseCliOptions({"--port", "COM1", "--port", "COM2"}).ok());
    EXPECT_FALSE(ParseCliOptions({"--port", "COM1", "--protocol", "fast"}).ok());
    EXPECT_FALSE(ParseCliOptions({"--port", "COM1", "--bogus"}).ok());
    EXPECT_FALSE(ParseCliOptions({"--port"}).ok());
    EXPECT_TRUE(ParseCliOptions({"--help"}).options.help);
    EXPECT_NE(CliHelpText().find("Exit status"), std::string::npos);
}

TEST(CliRunTest, FlashesAJobAndExitsZero) {
    SimPhoneConfig config;
    config.link = SimLink::Uart;
    auto phone = StartPhone(config);
    ImageFiles files;
    const Bytes code = CodeImage(0x20000, 0x0101, 0x4000, 21);
    const Bytes font = RandomBytes(0x10000, 22);
    const std::string tracePath = files.File("Debug.TXT");
    const CliRun run = RunCli(
        Fast({"--serial", "--protocol", "normal", "--port", phone->DevicePath(), "--code",
              files.Write("code.bin", code), "--font4", files.Write("font4_0x300000.bin", font),
              "--trace", tracePath, "--color", "never"}));
    EXPECT_EQ(run.status, EXIT_OK) << run.log;
    ASSERT_TRUE(phone->WaitForReset(std::chrono::seconds(5)));
    EXPECT_EQ(phone->FlashRange(0x4000, code.size() - 0x4000),
              Bytes(code.begin() + 0x4000, code.end()));
    EXPECT_EQ(phone->FlashRange(0x300000, font.size()), font);  // address from the file name
    // Plain text when not on a terminal, the Korean lines in order.
    EXPECT_EQ(run.log.find("\033["), std::string::npos);
    const std::size_t a = run.log.find("다운로드 시작 요청\n");
    const std::size_t b = run.log.find("폰트4 다운로드\n");
    const std::size_t c = run.log.find("다운 로드 종료\n");
    EXPECT_TRUE(a != std::string::npos && b != std::string::npos && c != std::string::npos &&
                a < b && b < c)
        << run.log;
    // Progress lines on the progress stream, with the image and the address.
    EXPECT_NE(run.progress.find("폰트4 100% 0x0000F000"), std::string::npos) << run.progress;
    EXPECT_TRUE(FileExists(tracePath));
}

TEST(CliRunTest, ExitStatusesOfFailingSteps) {
    ImageFiles files;
    const std::string font = files.Write("font1.bin", RandomBytes(0x10000, 23));
    {
        SimPhoneConfig config;
        config.faults.silentFromUnit = 1;
        auto phone = StartPhone(config);
        const CliRun run = RunCli(Fast({"--port", phone->DevicePath(), "--font1", font,
                                        "--font1-address", "0x200000", "--color", "always"}));
        EXPECT_EQ(run.status, EXIT_NO_ANSWER);
        // Colours: red errors, blue notices.
        EXPECT_NE(run.log.find("\033[31m응답이없습니다\033[0m"), std::string::npos) << run.log;
        EXPECT_NE(run.log.find("\033[34m다운 로드 종료\033[0m"), std::string::npos);
    }
    {
        SimPhoneConfig config;
        config.faults.refuseVersion = true;
        auto phone = StartPhone(config);
        const std::string code = files.Write("code.bin", CodeImage(0x10000, 7, 0x100, 24));
        // No terminal and neither --yes nor --no: the question is answered Cancel.
        CliRun run = RunCli(Fast({"--port", phone->DevicePath(), "--code", code}));
        EXPECT_EQ(run.status, EXIT_VERSION);
        EXPECT_NE(run.log.find("[확인] 요청한 BIN버전이"), std::string::npos) << run.log;
        run = RunCli(Fast({"--port", phone->DevicePath(), "--code", code, "--yes"}));
        EXPECT_EQ(run.status, EXIT_OK) << run.log;
    }
    {
        SimPhoneConfig config;
        config.faults.silentFromUnit = 4;
        config.faults.silentDataOnly = true;
        auto phone = StartPhone(config);
        const CliRun run = RunCli(Fast({"--port", phone->DevicePath(), "--protocol", "normal",
                                        "--font1", font, "--font1-address", "0x200000"}));
        EXPECT_EQ(run.status, EXIT_TRANSFER);
    }
    // A port that does not open; a job that the Start checks refuse; a refused image file.
    EXPECT_EQ(
        RunCli(Fast({"--port", "/dev/zembra-none", "--font1", font, "--font1-address", "0x10000"}))
            .status,
        EXIT_PORT_OPEN);
    const CliRun noAddress = RunCli(Fast({"--port", "/dev/zembra-none", "--font1", font}));
    EXPECT_EQ(noAddress.status, EXIT_JOB_REFUSED);
    EXPECT_NE(noAddress.log.find("[오류]"), std::string::npos) << noAddress.log;
    EXPECT_EQ(RunCli(Fast({"--port", "/dev/zembra-none"})).status, EXIT_JOB_REFUSED);
    const std::string odd = files.Write("odd.bin", RandomBytes(1000, 25));
    EXPECT_EQ(
        RunCli(Fast({"--port", "/dev/zembra-none", "--font1", odd, "--font1-address", "0x10000"}))
            .status,
        EXIT_JOB_REFUSED);
}

TEST(CliRunTest, ConfigurationFileOfTheWindow) {
    SimPhoneConfig config;
    config.portName = "COM77";
    config.registerDeviceMap = false;
    ImageFiles files;
    setenv("ZEMBRA_PORT_DIR", (files.path() + "/ports").c_str(), 1);
    auto phone = StartPhone(config);

    // A configuration as the window saves it: prescribed names, addresses, settings.
    const Bytes code = CodeImage(0x10000, 0x0202, 0x2000, 26);
    const Bytes font = RandomBytes(0x10000, 27);
    DownloadJob job;
    DownloadSettings settings;
    job[ImageSlot::Code].path = files.Write("MODEL_CODE.BIN", code);
    job[ImageSlot::Font2].path = files.Write("MODEL_FONT2.BIN", font);
    job[ImageSlot::Font2].addressText = "0x500000";
    job.modelName = "TEST";
    settings.usbProtocol = ProtocolChoice::Normal;
    settings.cmdGapMs = "1";
    const std::string cfg = files.File("ZembraCFG.TXT");
    ASSERT_TRUE(WriteConfigFile(cfg, job, settings, ConfigFileKind::Full).ok);

    // Images found by their prescribed names next to the configuration; port by its name.
    CliRun run = RunCli({"--config", cfg, "--port", "COM77", "--startup-delay", "10"});
    EXPECT_EQ(run.status, EXIT_OK) << run.log;
    EXPECT_NE(run.log.find("통신포트열기:COM77 Open"), std::string::npos);
    ASSERT_TRUE(phone->WaitForReset(std::chrono::seconds(5)));
    EXPECT_EQ(phone->FlashRange(0x500000, font.size()), font);
    EXPECT_EQ(phone->FlashRange(0x2000, code.size() - 0x2000),
              Bytes(code.begin() + 0x2000, code.end()));

    // A code file that does not match the prescribed name: refused unless the operator
    // answers Yes.
    const std::string other = files.Write("OTHER.BIN", code);
    run = RunCli({"--config", cfg, "--port", "COM77", "--code", other, "--no"});
    EXPECT_EQ(run.status, EXIT_JOB_REFUSED);
    EXPECT_NE(run.log.find("코드 파일 선택에 오류가 있습니다."), std::string::npos) << run.log;
    run = RunCli(
        {"--config", cfg, "--port", "COM77", "--code", other, "--yes", "--startup-delay", "10"});
    EXPECT_EQ(run.status, EXIT_OK) << run.log;
    phone->Stop();
    unsetenv("ZEMBRA_PORT_DIR");
}

}  // namespace
}  // namespace zembra::e2e
