// The phone's line: registration, the tool closing and reopening its side, several phones,
// and the zembra-phone-sim program.

#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>
#include <set>

#include "platform/PortNames.h"
#include "platform/SerialDeviceMap.h"
#include "platform/Version.h"
#include "tests/sim/SimTestSupport.h"

namespace zembra::simtest {
namespace {

// A whole UART normal session into an open client.
void UartSession(Client& c, std::uint32_t address, const Bytes& image) {
    c.SetRate(B57600);
    EnterModule(c, SimLink::Uart, false);
    ASSERT_EQ(c.Command(EraseCommand(address, static_cast<std::uint32_t>(image.size())), false),
              kAck);
    for (std::size_t off = 0; off < image.size(); off += kMaxWriteData) {
        const std::size_t n = std::min(kMaxWriteData, image.size() - off);
        ASSERT_EQ(c.Command(WriteDataCommand(address + static_cast<std::uint32_t>(off),
                                             image.data() + off, n),
                            false),
                  kAck);
    }
    ASSERT_EQ(c.Command({CMD_JUMP}, false), kAck);
}

TEST(SimLine, RegistersItsPortAndRemovesItOnStop) {
    test::PhoneRegistry registry;
    {
        SimPhoneConfig usb;
        usb.portName = "COM70";
        SimulatedPhone phone(usb);
        std::string error;
        ASSERT_TRUE(phone.Start(&error)) << error;
        EXPECT_EQ(ResolvePortDevice("COM70"), phone.DevicePath());
        EXPECT_EQ(phone.DeviceMapValue(), "\\Device\\trelvic5");
        const auto map = ReadSerialDeviceMap();
        ASSERT_TRUE(map.has_value());
        ASSERT_EQ(map->size(), 1u);
        EXPECT_EQ((*map)[0].valueName, "\\Device\\trelvic5");
        EXPECT_EQ((*map)[0].portName, "COM70");

        SimPhoneConfig uart;
        uart.link = SimLink::Uart;
        uart.portName = "COM9";
        SimulatedPhone cable(uart);
        ASSERT_TRUE(cable.Start(&error)) << error;
        EXPECT_EQ(ResolvePortDevice("COM9"), cable.DevicePath());
        EXPECT_EQ(ReadSerialDeviceMap()->size(), 1u);  // a UART cable is no USB modem
        cable.Stop();
        cable.Stop();  // idempotent
        EXPECT_FALSE(std::filesystem::is_symlink(registry.Ports() + "/COM9"));
    }
    EXPECT_TRUE(std::filesystem::is_empty(registry.Ports()));
    EXPECT_TRUE(ReadSerialDeviceMap()->empty());
}

TEST(SimLine, TwoDownloadsInARowWithThePortClosedBetween) {
    SimPhoneConfig config;
    config.link = SimLink::Uart;
    SimulatedPhone phone(config);
    ASSERT_TRUE(phone.Start());
    const Bytes first = PatternBytes(10000, 1);
    const Bytes second = PatternBytes(7000, 2);
    {
        Client c(phone.DevicePath());
        UartSession(c, 0x1000, first);
    }
    ASSERT_TRUE(phone.WaitForReset(kPatience, 1));
    {
        Client c(phone.DevicePath());
        UartSession(c, 0x100000, second);
    }
    ASSERT_TRUE(phone.WaitForReset(kPatience, 2));
    EXPECT_EQ(phone.FlashRange(0x1000, first.size()), first);
    EXPECT_EQ(phone.FlashRange(0x100000, second.size()), second);
    EXPECT_TRUE(phone.Errors().empty());
    EXPECT_EQ(phone.Counters().abandonedSessions, 0u);
}

TEST(SimLine, ClosingMidSessionStartsTheBootLoaderOver) {
    SimPhoneConfig config;
    SimulatedPhone phone(config);
    ASSERT_TRUE(phone.Start());
    {
        Client c(phone.DevicePath());
        EnterModule(c, SimLink::Usb, true);
        ASSERT_EQ(c.Raw(EraseCommand(0, 0x20000)), kAck);
        Bytes partial = Client::RawFrame({CMD_COMPRESSED, COMPRESSED_CONTINUES});
        partial.resize(500);  // the tool gives up in the middle of a packet
        ASSERT_TRUE(c.Write(partial));
    }
    ASSERT_TRUE(
        phone.WaitUntil([&] { return phone.Counters().abandonedSessions == 1; }, kPatience));
    EXPECT_EQ(phone.Stage(), SimStage::BootIdle);
    // The next run starts with command frames again, nothing of the old one left over.
    Client c(phone.DevicePath());
    EnterModule(c, SimLink::Usb, false);
    EXPECT_TRUE(phone.Errors().empty());

    // Without the reset on close the session goes on over a reopened port.
    SimPhoneConfig keep;
    keep.resetOnClose = false;
    SimulatedPhone kept(keep);
    ASSERT_TRUE(kept.Start());
    {
        Client d(kept.DevicePath());
        EnterModule(d, SimLink::Usb, false);
    }
    ASSERT_TRUE(kept.WaitUntil([&] { return kept.Counters().lineCloses == 1; }, kPatience));
    Client d(kept.DevicePath());
    EXPECT_EQ(d.Command(EraseCommand(0, 16), true), kAck);
}

TEST(SimLine, PowerCycleAndAGivenDevice) {
    // The phone on a device it is given: here the slave of a pseudo-terminal whose master
    // plays the tool.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    SimPhoneConfig config;
    config.link = SimLink::Uart;
    config.devicePath = ptsname(master);
    SimulatedPhone phone(config);
    ASSERT_TRUE(phone.Start());
    EXPECT_EQ(phone.DevicePath(), config.devicePath);
    const Bytes a0 = Client::Frame({CMD_DOWNLOAD_START}, false);
    ASSERT_EQ(::write(master, a0.data(), a0.size()), static_cast<ssize_t>(a0.size()));
    ASSERT_TRUE(phone.WaitForUnits(1, kPatience));
    EXPECT_EQ(phone.Stage(), SimStage::BootLoader);
    std::uint8_t answer[3] = {};
    pollfd p{master, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())), 1);
    EXPECT_EQ(::read(master, answer, sizeof answer), 3);
    EXPECT_EQ(Bytes(answer, answer + 3), kAck);
    phone.PowerCycle();
    EXPECT_EQ(phone.Stage(), SimStage::BootIdle);
    EXPECT_EQ(phone.Counters().abandonedSessions, 1u);
    phone.Stop();
    ::close(master);
}

TEST(SimLine, AnswersToAClosedLineAreLost) {
    SimPhoneConfig config;
    config.faults.lateMs = 300;
    SimulatedPhone phone(config);
    ASSERT_TRUE(phone.Start());
    {
        Client c(phone.DevicePath());
        ASSERT_TRUE(c.Write(Client::Frame({CMD_DOWNLOAD_START}, true)));
        ASSERT_TRUE(phone.WaitForUnits(1, kPatience));
    }  // closed before the late answer
    ASSERT_TRUE(phone.WaitUntil(
        [&] {
            for (const auto& e : phone.Record())
                if (e.note.find("answer dropped") != std::string::npos) return true;
            return false;
        },
        kPatience));
    phone.SetFaults({});
    {
        Client c(phone.DevicePath());
        EXPECT_TRUE(c.Quiet(std::chrono::milliseconds(50)));  // nothing of the old run
        // An answer sent but left unread when the tool closes is not delivered either.
        ASSERT_TRUE(c.Write(Client::Frame({CMD_DOWNLOAD_START}, true)));
        ASSERT_TRUE(phone.WaitForUnits(2, kPatience));
    }
    ASSERT_TRUE(phone.WaitUntil([&] { return phone.Counters().lineCloses == 2; }, kPatience));
    Client c(phone.DevicePath());
    EXPECT_TRUE(c.Quiet(std::chrono::milliseconds(50)));
    EXPECT_EQ(c.Command({CMD_DOWNLOAD_START}, true), kAck);
}

TEST(SimLine, SeveralPhonesSideBySide) {
    test::PhoneRegistry registry;
    std::vector<std::unique_ptr<SimulatedPhone>> phones;
    for (int i = 0; i < 4; ++i) {
        SimPhoneConfig config;
        config.portName = "COM" + std::to_string(70 + i);
        phones.push_back(std::make_unique<SimulatedPhone>(config));
        ASSERT_TRUE(phones.back()->Start());
    }
    std::set<std::string> devices;
    for (auto& phone : phones) devices.insert(phone->DevicePath());
    EXPECT_EQ(devices.size(), 4u);
    EXPECT_EQ(ReadSerialDeviceMap()->size(), 4u);
    std::vector<std::unique_ptr<Client>> clients;
    for (auto& phone : phones) clients.push_back(std::make_unique<Client>(phone->DevicePath()));
    for (auto& c : clients) ASSERT_TRUE(c->Write(Client::Frame({CMD_DOWNLOAD_START}, true)));
    for (auto& c : clients) EXPECT_EQ(c->ReadFrame(), kAck);
    for (auto& phone : phones) EXPECT_EQ(phone->Counters().units, 1u);
    phones.clear();
    EXPECT_TRUE(ReadSerialDeviceMap()->empty());
}

// ---------------------------------------------------------------------------------------------
// The program

struct Program {
    explicit Program(const std::vector<std::string>& args) {
        int out[2];
        EXPECT_EQ(::pipe(out), 0);
        pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::close(out[1]);
            std::vector<char*> argv;
            std::string path = ZEMBRA_PHONE_SIM_PATH;
            argv.push_back(path.data());
            std::vector<std::string> copy = args;
            for (auto& a : copy) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(path.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        outFd = out[0];
    }
    ~Program() {
        if (pid > 0 && !exited) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ::close(outFd);
    }
    // The next line of standard output, or empty after the time-out.
    std::string Line(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto nl = buffer.find('\n');
            if (nl != std::string::npos) {
                std::string line = buffer.substr(0, nl);
                buffer.erase(0, nl + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return {};
            pollfd p{outFd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char chunk[512];
            const ssize_t n = ::read(outFd, chunk, sizeof chunk);
            if (n <= 0) return {};
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }
    std::string Rest() {
        std::string all = buffer;
        char chunk[512];
        ssize_t n;
        while ((n = ::read(outFd, chunk, sizeof chunk)) > 0)
            all.append(chunk, static_cast<std::size_t>(n));
        return all;
    }
    int Wait() {
        int status = 0;
        ::waitpid(pid, &status, 0);
        exited = true;
        return status;
    }
    pid_t pid = -1;
    int outFd = -1;
    bool exited = false;
    std::string buffer;
};

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    for (char ch : line) {
        if (ch == ' ') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += ch;
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

TEST(SimProgram, HelpDocumentsEveryOption) {
    Program program({"--help"});
    const std::string help = program.Rest();
    EXPECT_EQ(program.Wait(), 0);
    for (const char* option : {"--link",
                               "--port",
                               "--count",
                               "--device",
                               "--trelvic",
                               "--no-register",
                               "--accept-version",
                               "--version",
                               "--compression",
                               "--flash-size",
                               "--erase-ms",
                               "--erase-ms-per-64k",
                               "--rate",
                               "--turnaround-us",
                               "--no-reset-on-close",
                               "--no-rate-check",
                               "--dump",
                               "--sessions",
                               "--verbose",
                               "--silent-from",
                               "--late",
                               "--nak",
                               "--corrupt-echo",
                               "--stray",
                               "--hangup-after",
                               "--refuse-version",
                               "--help",
                               "ZEMBRA_PORT_DIR",
                               "ZEMBRA_SERIAL_MAP_DIR"})
        EXPECT_NE(help.find(option), std::string::npos) << option;

    Program bad({"--nak", "0xA4"});
    const int status = bad.Wait();
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);

    // --version alone is the program's (--version WORD stays the accepted version word).
    Program version({"--version"});
    EXPECT_EQ(version.Line(),
              std::string("zembra-phone-sim ") + kVersionNumber + " (" + kApplicationTitle + ")");
    const int versionStatus = version.Wait();
    EXPECT_TRUE(WIFEXITED(versionStatus) && WEXITSTATUS(versionStatus) == 0);
}

TEST(SimProgram, RunsUntilSigtermAndLeavesNoStaleEntries) {
    test::PhoneRegistry registry;
    Program program({"--count", "2", "--port", "COM80"});
    const auto first = Words(program.Line());
    const auto second = Words(program.Line());
    ASSERT_EQ(first.size(), 4u);
    ASSERT_EQ(second.size(), 4u);
    EXPECT_EQ(first[0], "COM80");
    EXPECT_EQ(first[2], "\\Device\\trelvic15");
    EXPECT_EQ(second[0], "COM81");
    EXPECT_EQ(ResolvePortDevice("COM80"), first[1]);
    EXPECT_EQ(ResolvePortDevice("COM81"), second[1]);
    EXPECT_EQ(ReadSerialDeviceMap()->size(), 2u);
    {
        Client c(first[1]);
        EXPECT_EQ(c.Command({CMD_DOWNLOAD_START}, true), kAck);
    }
    ::kill(program.pid, SIGTERM);
    const int status = program.Wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(std::filesystem::is_empty(registry.Ports()));
    EXPECT_TRUE(ReadSerialDeviceMap()->empty());
}

TEST(SimProgram, SessionEndsWithTheDumpAndTheExit) {
    test::PhoneRegistry registry;
    const std::string dump = registry.root() + "/flash.bin";
    Program program({"--link", "uart", "--port", "COM5", "--sessions", "1", "--dump", dump,
                     "--version", "0x0102"});
    const auto words = Words(program.Line());
    ASSERT_EQ(words.size(), 4u);
    EXPECT_EQ(words[2], "-");
    EXPECT_EQ(words[3], "uart");
    const Bytes image = PatternBytes(3000, 5);
    {
        Client c(words[1]);
        ASSERT_EQ(c.Command({CMD_DOWNLOAD_START}, false), kAck);
        ASSERT_EQ(c.Command(VersionCommand(0x0103), false), Nak(NAK_FAILED));
        UartSession(c, 0x10, image);
    }
    const int status = program.Wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::ifstream in(dump, std::ios::binary);
    const Bytes dumped((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Bytes expected = image;
    expected.insert(expected.begin(), 0x10, 0xFF);
    EXPECT_EQ(dumped, expected);
    EXPECT_TRUE(std::filesystem::is_empty(registry.Ports()));
}

}  // namespace
}  // namespace zembra::simtest
