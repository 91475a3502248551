#include "protocol/SingleEngine.h"

#include <chrono>
#include <exception>
#include <thread>

#include "platform/Helpers.h"
#include "platform/PortNames.h"

namespace zembra {

SingleEngine::SingleEngine(PortOperations& ports, DebugTrace& trace, MainThread& mainThread,
                           AskOperatorRequest& askOperator, EngineTimings timings)
    : ports_(ports),
      bridge_(shared_, ports, trace, mainThread, askOperator),
      worker_(bridge_, timings) {
    // Answers reach the waiting worker through the port's tap; where the ports can, the
    // worker waiting for an answer reads it itself: no hand-over between threads on the way
    // from the port to the wait.
    ports_.SetSingleReceiveTap([this](const std::uint8_t* data, std::size_t count) {
        bridge_.ReceiveOnPortThread(data, count);
    });
    bridge_.SetWorkerReads(ports_.SetSingleTapReads(true));
}

SingleEngine::~SingleEngine() {
    ports_.SetSingleTapReads(false);
    ports_.SetSingleReceiveTap(nullptr);
}

bool SingleEngine::Idle() const {
    return !shared_.downloadEnabled.load() && worker_.Suspended();
}

SingleEngine::StartResult SingleEngine::Start(const SingleRunConfig& config,
                                              const std::string& portName) {
    // A run that has just given the controls back needs a moment to clear downloadEnabled
    // and suspend, which it does without the main thread.
    if (!Idle() && shared_.lastOutcome.load() != RunOutcome::None) {
        for (int i = 0; i < 1000 && !Idle(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!Idle()) return StartResult::Busy;
    shared_.downloadStartMs.store(NowMs());
    shared_.ClearStop();
    shared_.run = config;
    bridge_.BeginRun(config.snapshot.linkProtocol);
    lastPortError_.clear();
    bridge_.Report().events.RunStarted(0, portName, config);

    const int number = PortNumberOf(portName);
    bridge_.LogLine(number > 0 ? FormatText("통신포트열기:COM%d Open", number)
                               : FormatText("통신포트열기:%s Open", portName.c_str()),
                    COLOUR_BLACK);
    try {
        ports_.SetSingleBaud(57600);
        if (number > 0) {
            ports_.SetSinglePortName(number);
        } else {
            ports_.SetSinglePortDevice(portName);
        }
        ports_.OpenSinglePort();
    } catch (const std::exception& e) {
        lastPortError_ = e.what();
        bridge_.LogLine("통신포트열기를 실패했습니다. 확인 바랍니다.", COLOUR_BLUE);
        bridge_.Report().events.RunFinished(0, RunEnd{});  // the run ends before it began
        return StartResult::PortOpenFailed;
    }

    bridge_.LogLine("다운로드", COLOUR_BLACK);
    shared_.lastOutcome.store(RunOutcome::None);
    shared_.downloadEnabled.store(true);
    worker_.Resume();
    return StartResult::Started;
}

void SingleEngine::RequestStop() {
    bridge_.LogLine("다운로드 중단 요청", COLOUR_RED);
    shared_.RequestStop();
}

}  // namespace zembra
