#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/LoopMainThread.h"
#include "ports/VaCommPorts.h"
#include "protocol/AskOperator.h"
#include "protocol/DebugTrace.h"
#include "protocol/RunDisplay.h"
#include "protocol/SingleEngine.h"
#include "sim/SimulatedPhone.h"
#include "tests/protocol/TestHosts.h"
#include "tests/support/PhoneSupport.h"

namespace zembra::e2e {

using Bytes = std::vector<std::uint8_t>;
using Line = test::RecordingHost::Line;

using test::RandomBytes;
using test::StartPhone;
using test::WaitForStage;

// A code image: random data with the trailer (version at size - 20, boot at size - 16).
inline Bytes CodeImage(std::size_t size, std::uint16_t version, std::uint32_t boot, unsigned seed) {
    return test::WithTrailer(RandomBytes(size, seed), version, boot);
}

// Firmware-like: some data, then 0xFF padding.
inline Bytes PaddedImage(std::size_t size, std::size_t data, unsigned seed) {
    Bytes image = RandomBytes(data, seed);
    image.resize(size, 0xFF);
    return image;
}

// Image files in a folder of the test's own, removed with it.
class ImageFiles : public test::ScratchDir {
  public:
    ImageFiles() : ScratchDir("e2e") {}
};

// The single engine as the window hosts it: a LoopMainThread run by the test thread, the
// real serial components and a recording display.
class EngineFixture : public ::testing::Test {
  protected:
    LoopMainThread loop;
    test::RecordingHost host;
    RunDisplay display{loop, host};
    DebugTrace trace;
    AskOperatorRequest ask;
    std::unique_ptr<VaCommPorts> ports;
    std::unique_ptr<SingleEngine> engine;
    // The operator's answer to a question (message box result).
    int operatorAnswer = mb::kIdOk;
    int questionsAsked = 0;

    void SetUp() override {
        SetProcessMainThread(&loop);
        ports = std::make_unique<VaCommPorts>(trace, &loop);
        EngineTimings timings;
        timings.startupSleepMs = 10;
        timings.askPollMs = 5;
        engine = std::make_unique<SingleEngine>(*ports, trace, loop, ask, timings);
        engine->SetRunEvents(&display);
        ports->SetTraceOrigin(&engine->shared().downloadStartMs);
    }

    void TearDown() override {
        ask.Shutdown();
        engine.reset();
        ports.reset();
        SetProcessMainThread(nullptr);
    }

    // A snapshot with short waits.
    static StartSnapshot FastSnapshot(LinkProtocolCode mode) {
        StartSnapshot s;
        s.linkProtocol = mode;
        s.cmdGapMs = 1;
        s.normalResponseWaitMs = 300;
        s.packetResponseWaitMs = 400;
        s.eraseWaitSec = 5;
        s.checkBinSize64K = false;
        return s;
    }

    // Runs one download to its end, serving the operator question and calling onPump
    // between slices of the loop. Returns how the run ended.
    RunOutcome Run(const SingleRunConfig& config, const std::string& port,
                   const std::function<void()>& onPump = {}) {
        host.controlsGivenBack = 0;
        host.gauges.clear();
        host.markers.clear();
        host.titles.clear();
        host.addresses.clear();
        const auto started = engine->Start(config, port);
        EXPECT_EQ(started, SingleEngine::StartResult::Started) << engine->lastPortError();
        if (started != SingleEngine::StartResult::Started) return RunOutcome::None;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (host.controlsGivenBack == 0 && std::chrono::steady_clock::now() < deadline) {
            loop.RunUntil([&] { return host.controlsGivenBack > 0; }, std::chrono::milliseconds(2));
            ask.Serve([&](const std::string&, const std::string&, int) {
                ++questionsAsked;
                return operatorAnswer;
            });
            if (onPump) onPump();
        }
        EXPECT_EQ(host.controlsGivenBack, 1) << "the run did not end";
        while (!engine->Idle() && std::chrono::steady_clock::now() < deadline)
            loop.RunUntil([&] { return engine->Idle(); }, std::chrono::milliseconds(1));
        EXPECT_FALSE(ports->singlePortOpen()) << "the port stays open after the run";
        return engine->shared().lastOutcome.load();
    }

    bool Logged(const std::string& text) const {
        for (const Line& l : host.lines)
            if (l.text == text) return true;
        return false;
    }

    // The lines from the first one equal to `from` on.
    std::vector<Line> LinesFrom(const std::string& from) const {
        for (std::size_t i = 0; i < host.lines.size(); ++i)
            if (host.lines[i].text == from)
                return std::vector<Line>(host.lines.begin() + static_cast<long>(i),
                                         host.lines.end());
        return {};
    }
};

// Starts a phone on a fresh pseudo-terminal with nothing registered.

}  // namespace zembra::e2e
