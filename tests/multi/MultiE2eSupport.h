#pragma once

// Support of the multi end-to-end suites: generated images, eight simulated phones, a host
// that records the multi pane, and the loop that runs a multi download to its end.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "job/DownloadJob.h"
#include "job/DownloadSettings.h"
#include "multi/MultiDownload.h"
#include "platform/Helpers.h"
#include "platform/LoopMainThread.h"
#include "platform/MainThread.h"
#include "protocol/AskOperator.h"
#include "protocol/RunDisplay.h"
#include "sim/SimulatedPhone.h"
#include "tests/multi/MultiTestPorts.h"
#include "tests/support/PhoneSupport.h"

namespace zembra::test {

using test::Bytes;
using test::RandomBytes;

inline void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// Firmware-like bytes: code-ish runs and 0xFF padding (compresses well).
inline Bytes FirmwareBytes(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes bytes(size, 0xFF);
    for (std::size_t i = 0; i < size / 2; ++i)
        bytes[i] = static_cast<std::uint8_t>((i % 61) == 0 ? rng() : (i * 7) & 0x3F);
    return bytes;
}

// A firmware-like code image with its trailer.
inline Bytes CodeImage(std::size_t size, std::uint16_t version, std::uint32_t bootLocation,
                       unsigned seed) {
    return WithTrailer(FirmwareBytes(size, seed), version, bootLocation);
}

struct LogEntry {
    std::string text;
    std::uint32_t colour;
};

// The operator side, recording the multi pane (the Start's lines and the slots' lines, through
// RunDisplay) and the questions. Everything runs on the main thread.
class RecordingHost : public OperatorQuestions, public RunView {
  public:
    void AppendLine(LogPane, const std::string& text, std::uint32_t colour) override {
        lines.push_back({text, colour});
    }
    int AskOperator(const std::string&, const std::string&, int) override { return mb::kIdCancel; }
    bool AcceptJob(const DownloadJob&, const JobCheckResult& check, StartKind) override {
        jobErrors.insert(jobErrors.end(), check.codes.begin(), check.codes.end());
        if (!IsOverridableJobError(check.code())) return false;
        ++questions;
        return overrideAnswer;
    }
    bool ConfirmStart(const DownloadJob&, std::array<std::string, MULTI_SLOT_COUNT>*) override {
        return true;
    }
    void RunEnded(int slot, const RunEnd& end) override {
        if (slot > 0 && end.endCode >= 0) endedSlots.push_back(slot - 1);
    }

    // The lines of one port ("COM7:" prefix removed), in order.
    std::vector<LogEntry> SlotLines(const std::string& portName) const {
        std::vector<LogEntry> out;
        const std::string prefix = portName + ":";
        for (const auto& line : lines)
            if (line.text.rfind(prefix, 0) == 0)
                out.push_back({line.text.substr(prefix.size()), line.colour});
        return out;
    }
    bool Has(const std::string& text, std::uint32_t colour) const {
        for (const auto& line : lines)
            if (line.text == text && line.colour == colour) return true;
        return false;
    }

    std::vector<LogEntry> lines;
    std::vector<int> jobErrors;
    std::vector<std::string> conversionErrors;
    std::vector<int> endedSlots;
    int questions = 0;
    bool overrideAnswer = true;
};

// The display of a multi download's runs, made before it and gone after it.
struct SlotLinesDisplay {
    SlotLinesDisplay(MainThread& loop, RunView& host)
        : display(loop, host,
                  [this](int slot) { return (*slotNames)[static_cast<std::size_t>(slot - 1)]; }) {}
    const std::array<std::string, MULTI_SLOT_COUNT>* slotNames = nullptr;
    RunDisplay display;
};

// The multi download as the hosts wire it: its slots' lines reach the host's multi pane with
// their port names.
class DisplayedMultiDownload : private SlotLinesDisplay, public MultiDownload {
  public:
    DisplayedMultiDownload(MainThread& loop, MultiPortOps& ports, RecordingHost& host,
                           MultiStartTiming timing = {})
        : SlotLinesDisplay(loop, host), MultiDownload(loop, ports, host, timing), host_(host) {
        slotNames = &slotPortNames();
        SetRunEvents(&display);
    }
    // A slot's view as the display keeps it.
    MultiSlotView View(int slot) const { return display.SlotView(slot); }
    // The Start as a host makes it: a refused setting is shown.
    MultiStartOutcome Start(DownloadJob& job, const MultiStartRequest& request) {
        const MultiStartOutcome outcome = MultiDownload::Start(job, request);
        if (outcome == MultiStartOutcome::SettingsError)
            host_.conversionErrors.push_back(conversionError()->field);
        return outcome;
    }

  private:
    RecordingHost& host_;
};

constexpr std::uint16_t kVersion = 0x4215;
constexpr std::uint32_t kBootLocation = 0x8000;
constexpr std::uint32_t kFont1Address = 0x400000;
constexpr std::uint32_t kFont2Address = 0x600000;
// Short delays for the runs that do not look at the staggered start.
constexpr MultiStartTiming kQuickStart{30, 5};

inline std::string SlotPort(int slot) {
    return FormatText("COM%d", 65 + slot);
}

// Eight phone slots COM65 ... COM72 (device-map values trelvic0 ... trelvic7), generated
// images (a code image sent from its boot location, an incompressible font with a chunk that
// begins with the control marker, a font with a short last block), a loop main thread.
class MultiEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        SetProcessMainThread(&loop);

        code = CodeImage(0x20000, kVersion, kBootLocation, 1);
        font1 = RandomBytes(0x10000, 2);
        // A 1 KiB chunk that begins with the control marker (USB normal announces it).
        const std::uint8_t marker[] = {0x01, 0x12, 0x73, 0x80, 0x40, 0x67, 0x24};
        std::copy(std::begin(marker), std::end(marker), font1.begin() + 0x400);
        font2 = RandomBytes(70000, 3);  // not a multiple of 64 KiB: short last block
        codePath = scratch.File("code.bin");
        font1Path = scratch.File("font1_0x400000.bin");
        font2Path = scratch.File("font2_0x600000.bin");
        WriteFile(codePath, code);
        WriteFile(font1Path, font1);
        WriteFile(font2Path, font2);
    }

    void TearDown() override {
        phones.clear();
        SetProcessMainThread(nullptr);
    }

    SimPhoneConfig PhoneConfig(int slot) const {
        SimPhoneConfig config;
        config.link = SimLink::Usb;
        config.portName = SlotPort(slot);
        config.version = kVersion;
        return config;
    }

    SimulatedPhone& AddPhone(const SimPhoneConfig& config) {
        phones.push_back(StartPhone(config));
        return *phones.back();
    }

    void AddPhones(int count) {
        for (int slot = 0; slot < count; ++slot) AddPhone(PhoneConfig(slot));
    }

    DownloadJob Job() const {
        DownloadJob job;
        job[ImageSlot::Code].path = codePath;
        job[ImageSlot::Font1].path = font1Path;
        job[ImageSlot::Font1].addressText = "0x400000";
        job[ImageSlot::Font2].path = font2Path;
        job[ImageSlot::Font2].addressText = "0x600000";
        return job;
    }

    static DownloadSettings Settings(ProtocolChoice usb) {
        DownloadSettings settings;
        settings.usbProtocol = usb;
        settings.packetResponseWaitMs = "1500";
        settings.normalResponseWaitMs = "400";
        settings.cmdGapMs = "1";
        settings.eraseWaitSec = "5";
        settings.checkBinSize64K = false;
        settings.showInvalidFcsNak = true;
        return settings;
    }

    MultiStartRequest Request(ProtocolChoice usb, int slots) const {
        MultiStartRequest request;
        request.settings = Settings(usb);
        for (int slot = 0; slot < slots; ++slot)
            request.slotPortNames[static_cast<std::size_t>(slot)] = SlotPort(slot);
        return request;
    }

    // Serves the main thread until no worker is active, then lets the status tick end the
    // multi download.
    void RunToEnd(MultiDownload& multi, std::chrono::seconds timeout = std::chrono::seconds(60)) {
        ASSERT_TRUE(loop.RunUntil([&] { return !multi.AnyWorkerActive(); }, timeout))
            << "the multi download did not end";
        const MultiTickResult tick = multi.Tick();
        EXPECT_TRUE(tick.ended);
        EXPECT_FALSE(multi.downloadRunning());
    }

    void ExpectFlashHoldsImages(const SimulatedPhone& phone) {
        EXPECT_EQ(phone.FlashRange(kBootLocation, code.size() - kBootLocation),
                  Bytes(code.begin() + kBootLocation, code.end()))
            << phone.PortName() << " code";
        EXPECT_EQ(phone.FlashRange(kFont1Address, font1.size()), font1)
            << phone.PortName() << " font 1";
        EXPECT_EQ(phone.FlashRange(kFont2Address, font2.size()), font2)
            << phone.PortName() << " font 2";
        EXPECT_TRUE(phone.Errors().empty()) << phone.PortName() << ": " << phone.Errors().front();
    }

    void ExpectFinished(const MultiDownload& multi, int slot) {
        const MultiSingleBoxDLU* worker = multi.worker(slot);
        ASSERT_NE(worker, nullptr);
        EXPECT_EQ(worker->endCode(), END_FINISHED) << SlotPort(slot);
        const auto lines = host.SlotLines(SlotPort(slot));
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front().text, "다운로드 시작 요청");
        EXPECT_EQ(lines.back().text, "다운 로드 종료");
        EXPECT_EQ(lines.back().colour, COLOUR_BLUE);
    }

    ScratchDir scratch{"multi"};
    PhoneRegistry registry;
    LoopMainThread loop;
    RecordingHost host;
    Bytes code, font1, font2;
    std::string codePath, font1Path, font2Path;
    std::vector<std::unique_ptr<SimulatedPhone>> phones;
};

}  // namespace zembra::test
