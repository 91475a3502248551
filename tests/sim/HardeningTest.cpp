// The phone against a broken tool and hostile options: its own wire rules (apart from the
// tool's codec), devices that are no line, numbers that would wrap. (Unpadded USB frames:
// BootLoaderTest.)
#include <sys/wait.h>
#include <time.h>

#include <atomic>
#include <thread>

#include "protocol/Crc16.h"
#include "sim/PhoneWire.h"
#include "tests/sim/SimTestSupport.h"

namespace zembra::simtest {
namespace {

TEST(PhoneWire, OwnRulesMeetTheProtocolsFixedValuesAndAgreeWithTheTool) {
    const std::string digits = "123456789";
    const auto* d = reinterpret_cast<const std::uint8_t*>(digits.data());
    EXPECT_EQ(PhoneCrc16(d, digits.size()) ^ 0xFFFF, 0x906E);  // the FCS check value
    const std::uint8_t one = 0x01;                             // entry 1 of the FCS-16 table
    EXPECT_EQ(PhoneCrc16(&one, 1, 0), 0x1189);
    // The tool's table and the phone's bit loop must agree, block echoes included.
    for (unsigned seed = 0; seed < 1500; ++seed) {
        const Bytes block = RandomBytes(kDataBlockSize, seed);
        ASSERT_EQ(PhoneCrc16(block.data(), block.size()), Crc16(block.data(), block.size()));
        std::uint8_t echo[kMaxAckEchoSize];
        const std::size_t n = BuildAckEcho(echo, block.data());
        ASSERT_EQ(PhoneAckEcho(block.data(), block.size()), Bytes(echo, echo + n)) << seed;
    }

    std::string fault;
    EXPECT_EQ(PhoneUnescape({0x7D, 0x5D, 0x7D, 0x5E, 0x7D, 0x5F, 0x41}, &fault),
              (Bytes{0x7D, 0x7E, 0x7F, 0x41}));
    EXPECT_TRUE(fault.empty());
    PhoneUnescape({0x7D, 0x61}, &fault);  // 0x41 needs no escape
    EXPECT_NE(fault.find("needless"), std::string::npos);
    PhoneUnescape({0x01, 0x7F}, &fault);
    EXPECT_NE(fault.find("0x7F"), std::string::npos);
    PhoneUnescape({0x01, 0x7D}, &fault);
    EXPECT_NE(fault.find("closing flag"), std::string::npos);

    Bytes control(kDataBlockSize, 0);
    const Bytes marker{0x01, 0x12, 0x73, 0x80, 0x40, 0x67, 0x24};
    std::copy(marker.begin(), marker.end(), control.begin());
    EXPECT_TRUE(PhoneHasControlMarker(control.data(), control.size()));
    control[6] = 0x25;
    EXPECT_FALSE(PhoneHasControlMarker(control.data(), control.size()));
}

double ProcessCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

TEST(PhoneHardening, DevicesThatAreNoLineNeitherSpinNorHoldTheStop) {
    {
        SimPhoneConfig config;
        config.devicePath = "/dev/null";  // reads as end of file for ever
        SimulatedPhone phone(config);
        ASSERT_TRUE(phone.Start());
        const double before = ProcessCpuMs();
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        EXPECT_LT(ProcessCpuMs() - before, 100.0) << "the phone spins on /dev/null";
        EXPECT_FALSE(phone.Errors().empty());
    }
    {
        SimPhoneConfig config;
        config.devicePath = "/dev/zero";  // never runs dry
        auto phone = std::make_unique<SimulatedPhone>(config);
        ASSERT_TRUE(phone->Start());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        auto stopped = std::make_shared<std::atomic<bool>>(false);
        std::thread stopper([p = phone.get(), stopped] {
            p->Stop();
            stopped->store(true);
        });
        for (int i = 0; i < 200 && !stopped->load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (stopped->load()) {
            stopper.join();
        } else {
            ADD_FAILURE() << "the phone on /dev/zero does not stop";
            stopper.detach();
            (void)phone.release();  // still in use by the stuck stop
        }
    }
}

int ProgramStatus(const std::vector<std::string>& args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> argv{const_cast<char*>(ZEMBRA_PHONE_SIM_PATH)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execv(ZEMBRA_PHONE_SIM_PATH, argv.data());
        ::_exit(127);
    }
    int status = 0;
    for (int i = 0; i < 300; ++i) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);  // it took the option and runs
    ::waitpid(pid, &status, 0);
    return -1;
}

TEST(PhoneHardening, NumberOptionsThatWouldWrapAreRefused) {
    test::PhoneRegistry registry;
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--count", "4294967297"},
                                               {"--rate", "4294967296"},
                                               {"--rate", "4294967295"},
                                               {"--stray", "-1:1"},
                                               {"--stray", "7E:-1"},
                                               {"--erase-ms", "4294967296"},
                                               {"--nak", "0xA4:4294967296"},
                                               {"--late", " 5"},
                                               {"--version", "+5"},
                                               {"--sessions", "99999999999999999999"}}) {
        std::vector<std::string> line = {"--no-register"};
        line.insert(line.end(), args.begin(), args.end());
        EXPECT_EQ(ProgramStatus(line), 2) << args[0] << " " << args[1];
    }
}

}  // namespace
}  // namespace zembra::simtest
