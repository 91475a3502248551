// The fault matrix for one phone: a small job in each of the four transfer variants, with each
// fault the simulated phone can make injected at every exchange of the run in turn. Every scenario
// must end within its wait bound with a documented status: either every image written byte for
// byte, or a reason line before the end. No thread or file descriptor may be left behind, and
// a fresh run on the same phone must then open the port again and flash byte for byte.
#include <dirent.h>

#include <chrono>
#include <cstdio>

#include "cli/SingleCliRun.h"
#include "platform/Helpers.h"
#include "tests/e2e/E2eFixture.h"

namespace zembra::e2e {
namespace {

enum class Fault { Silence, HangUp, Naks, CorruptEcho, Stray, Late };

const char* FaultName(Fault fault) {
    switch (fault) {
        case Fault::Silence:
            return "silence";
        case Fault::HangUp:
            return "hang-up";
        case Fault::Naks:
            return "12 NAKs";
        case Fault::CorruptEcho:
            return "12 corrupt echoes";
        case Fault::Stray:
            return "stray bytes";
        case Fault::Late:
            return "late answer";
    }
    return "?";
}

struct Variant {
    const char* id;  // test name
    const char* name;
    LinkProtocolCode mode;
    SimLink link;
};

const Variant kVariants[] = {{"UsbNormal", "USB normal", USB_NORMAL, SimLink::Usb},
                             {"UsbCompressed", "USB compressed", USB_PPV, SimLink::Usb},
                             {"UartNormal", "UART normal", UART_NORMAL, SimLink::Uart},
                             {"UartCompressed", "UART compressed", UART_PRESS, SimLink::Uart}};

int CountEntries(const char* folder) {
    int n = 0;
    if (DIR* dir = ::opendir(folder)) {
        while (::readdir(dir) != nullptr) ++n;
        ::closedir(dir);
    }
    return n;
}

class FaultMatrix : public EngineFixture, public ::testing::WithParamInterface<Variant> {
  protected:
    ImageFiles files;
    Bytes code = CodeImage(0x1400, 0x0101, 0x1000, 41);  // 1 KiB sent from its boot location
    Bytes font = RandomBytes(0x800, 42);

    // The compressed variants send a short last block uncompressed (64 KiB of packets): they
    // get whole 64 KiB blocks that compress to a few packets instead.
    void UseImagesFor(LinkProtocolCode mode) {
        if (mode != USB_PPV && mode != UART_PRESS) return;
        code = test::WithTrailer(PaddedImage(0x11000, 0x400, 43), 0x0101, 0x1000);
        font = PaddedImage(0x10000, 0x400, 44);
    }

    SingleRunConfig Job(LinkProtocolCode mode) {
        SingleRunConfig run;
        run.paths[ImageSlot::Code] = files.Write("code.bin", code);
        run.paths[ImageSlot::Font1] = files.Write("font1.bin", font);
        run.snapshot = FastSnapshot(mode);
        // Short enough for a matrix of hundreds of runs, long enough for a loaded machine.
        run.snapshot.normalResponseWaitMs = 400;
        run.snapshot.packetResponseWaitMs = 600;
        run.snapshot.eraseWaitSec = 1;
        run.snapshot.address[ImageSlot::Font1] = 0x200000;
        return run;
    }

    bool FlashHoldsJob(const SimulatedPhone& phone) {
        return phone.FlashRange(0x1000, code.size() - 0x1000) ==
                   Bytes(code.begin() + 0x1000, code.end()) &&
               phone.FlashRange(0x200000, font.size()) == font;
    }

    // The exchanges of a clean run: (is a data unit, bytes received before it).
    struct Exchange {
        bool data;
        std::uint64_t bytesBefore;
    };
    std::vector<Exchange> CleanRun(const Variant& v) {
        SimPhoneConfig config;
        config.link = v.link;
        auto phone = StartPhone(config);
        EXPECT_EQ(Run(Job(v.mode), phone->DevicePath()), RunOutcome::Completed) << v.name;
        EXPECT_TRUE(phone->WaitForReset(std::chrono::seconds(5)));
        std::vector<Exchange> out;
        std::uint64_t before = 0;
        for (const SimRecordEntry& e : phone->Record()) {
            if (e.kind == SimUnitKind::LineEvent) continue;
            const bool data = e.kind != SimUnitKind::CommandFrame && e.kind != SimUnitKind::RawFrame
                                  ? true
                                  : e.command == CMD_WRITE_DATA ||
                                        (e.command == CMD_COMPRESSED && e.flag != 0x00);
            out.push_back({data, before});
            before = e.bytesReceived;
        }
        return out;
    }

    SimFaultPlan Plan(Fault fault, std::size_t k, const Exchange& x, std::uint64_t echoIndex) {
        SimFaultPlan plan;
        switch (fault) {
            case Fault::Silence:
                plan.silentFromUnit = k + 1;
                break;
            case Fault::HangUp:
                plan.hangupAfterBytes = x.bytesBefore + 1;  // in the middle of the exchange
                break;
            case Fault::Naks:
                plan.nakCode = NAK_FAILED;
                plan.nakCount = 12;
                plan.nakSkip = k;
                break;
            case Fault::CorruptEcho:
                plan.corruptEchoCount = 12;
                plan.corruptEchoSkip = echoIndex;
                break;
            case Fault::Stray:
                plan.strayBytes = {0x55, 0xAA, 0x7E};  // noise, then a doubled flag
                plan.strayCount = 1;
                plan.straySkip = k;
                break;
            case Fault::Late:
                plan.lateMs = 1500;  // beyond every wait of the job
                plan.lateFromUnit = k + 1;
                break;
        }
        return plan;
    }
};

TEST_P(FaultMatrix, EveryFaultAtEveryExchange) {
    int scenarios = 0;
    const auto matrixStart = std::chrono::steady_clock::now();
    {
        const Variant& v = GetParam();
        UseImagesFor(v.mode);
        const std::vector<Exchange> exchanges = CleanRun(v);
        ASSERT_FALSE(exchanges.empty()) << v.name;
        const int fds = CountEntries("/proc/self/fd");
        const int threads = CountEntries("/proc/self/task");
        for (Fault fault : {Fault::Silence, Fault::HangUp, Fault::Naks, Fault::CorruptEcho,
                            Fault::Stray, Fault::Late}) {
            std::uint64_t echoes = 0;
            for (std::size_t k = 0; k < exchanges.size(); ++k) {
                const Exchange& x = exchanges[k];
                if (fault == Fault::CorruptEcho) {
                    if (v.mode != USB_NORMAL || !x.data) continue;
                    ++echoes;
                }
                SCOPED_TRACE(FormatText("%s, %s at exchange %zu", v.name, FaultName(fault), k + 1));
                ++scenarios;
                host.lines.clear();
                {
                    SimPhoneConfig config;
                    config.link = v.link;
                    config.faults = Plan(fault, k, x, echoes - (echoes > 0 ? 1 : 0));
                    auto phone = StartPhone(config);
                    const auto start = std::chrono::steady_clock::now();
                    const RunOutcome outcome = Run(Job(v.mode), phone->DevicePath());
                    const auto took = std::chrono::steady_clock::now() - start;
                    EXPECT_LT(took, std::chrono::seconds(4)) << "beyond the wait bound";
                    EXPECT_NE(ExitStatusOf(outcome), EXIT_INTERNAL);
                    ASSERT_FALSE(host.lines.empty());
                    EXPECT_EQ(host.lines.back().text, "다운 로드 종료");
                    if (outcome == RunOutcome::Completed) {
                        // (A fault at the reset jump may keep the phone from jumping.)
                        EXPECT_TRUE(FlashHoldsJob(*phone)) << "reported written, not in flash";
                    } else {
                        ASSERT_GE(host.lines.size(), 2u);
                        const Line& reason = host.lines[host.lines.size() - 2];
                        EXPECT_NE(reason.colour, COLOUR_BLACK)
                            << "no reason before the end: " << reason.text;
                    }
                    if (fault == Fault::Stray) {
                        EXPECT_EQ(outcome, RunOutcome::Completed) << "stray bytes not skipped";
                    }

                    // The same phone, plugged in again if it was pulled and power cycled: a
                    // fresh run opens the port again and flashes byte for byte.
                    phone->SetFaults({});
                    if (!phone->IsPlugged()) {
                        ASSERT_TRUE(phone->Replug());
                    } else {
                        // The phone notices the close of the failed run on its own thread; a
                        // fresh run opened before that would have its first answer taken for
                        // the old run's and dropped.
                        ASSERT_TRUE(
                            phone->WaitUntil([&] { return phone->Counters().lineCloses >= 1; },
                                             std::chrono::seconds(3)));
                    }
                    // A phone left in the middle of a transfer waits for the rest of it: the
                    // operator takes it off the cable and on again.
                    phone->PowerCycle();
                    phone->ClearFlash();
                    host.lines.clear();
                    const std::uint64_t resets = phone->Counters().resets;
                    const RunOutcome fresh = Run(Job(v.mode), phone->DevicePath());
                    if (fresh != RunOutcome::Completed) {
                        std::string why;
                        for (const Line& l : host.lines) why += l.text + " | ";
                        for (const SimRecordEntry& e : phone->Record())
                            why += "\n  " + DescribeEntry(e);
                        FAIL() << "the fresh run failed: " << why;
                    }
                    EXPECT_TRUE(phone->WaitForReset(std::chrono::seconds(3), resets + 1));
                    EXPECT_TRUE(FlashHoldsJob(*phone));
                }
                EXPECT_EQ(CountEntries("/proc/self/fd"), fds) << "file descriptors left";
                EXPECT_EQ(CountEntries("/proc/self/task"), threads) << "threads left";
            }
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - matrixStart).count();
    std::printf("fault matrix, %s: %d scenarios in %.1f s\n", GetParam().name, scenarios, seconds);
    EXPECT_GT(scenarios, 40);
}

INSTANTIATE_TEST_SUITE_P(Variants, FaultMatrix, ::testing::ValuesIn(kVariants),
                         [](const ::testing::TestParamInfo<Variant>& info) {
                             return std::string(info.param.id);
                         });

}  // namespace
}  // namespace zembra::e2e
