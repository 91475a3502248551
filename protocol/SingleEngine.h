#pragma once

#include <string>

#include "platform/MainThread.h"
#include "protocol/AskOperator.h"
#include "protocol/DebugTrace.h"
#include "protocol/PortOperations.h"
#include "protocol/SingleBridge.h"
#include "protocol/SingleDownLoadUnit.h"
#include "protocol/SingleShared.h"

namespace zembra {

// The red line the hosts add to the multi pane after a Stop request.
inline constexpr char STOP_CABLE_NOTICE[] = "프로그램이 중단되면 케이블을 제거 하세요";

// The single-phone download as a host (window or command line) uses it: the shared state,
// the bridge and the one SingleDownLoad worker, plus the engine side of the single Start and
// Stop handlers.
//
// Threads: every member function runs on the host's main thread, except shared() reads of
// the atomics. Life: created by the host after its PortOperations, DebugTrace, MainThread and
// AskOperatorRequest, destroyed before them and before the run's observer. Destroy it while no run
// is in progress, or after the host's MainThread stopped serving (see SingleDownLoad).
class SingleEngine {
  public:
    enum class StartResult {
        Started,  // the worker runs; its observer sees the end (RunFinished, slot 0)
        // "통신포트열기를 실패했습니다. 확인 바랍니다." logged and the run told as ended (its
        // outcome None); nothing runs.
        PortOpenFailed,
        Busy,  // a run is still in progress; nothing changed
    };

    SingleEngine(PortOperations& ports, DebugTrace& trace, MainThread& mainThread,
                 AskOperatorRequest& askOperator, EngineTimings timings = {});
    ~SingleEngine();
    SingleEngine(const SingleEngine&) = delete;
    SingleEngine& operator=(const SingleEngine&) = delete;

    // The engine side of the single Start once the job checks have passed: sets
    // downloadStartMs and clears stopRequested, takes the run's paths and snapshot, opens the
    // port ("COMn" by number as the window does, or a device path) at 57,600 bit/s (the run
    // told as started just before), logs "다운로드", sets downloadEnabled and resumes the
    // worker (created on first use).
    StartResult Start(const SingleRunConfig& config, const std::string& portName);

    // The stop request: "다운로드 중단 요청" (red), then stopRequested. The host adds
    // STOP_CABLE_NOTICE to its multi pane.
    void RequestStop();

    // The observer of the runs (slot 0; nullptr: none): their events, and the engine's lines
    // of the Start and the Stop. Main thread, while no run is in progress.
    void SetRunEvents(RunEvents* events) { shared_.events = events; }

    // True when no run is in progress (downloadEnabled clear and the worker suspended).
    bool Idle() const;

    // The error text of the last failed port open (empty otherwise).
    const std::string& lastPortError() const { return lastPortError_; }

    SingleShared& shared() { return shared_; }
    const SingleShared& shared() const { return shared_; }
    SingleDownLoad& worker() { return worker_; }

  private:
    PortOperations& ports_;
    SingleShared shared_;
    SingleBridge bridge_;
    SingleDownLoad worker_;
    std::string lastPortError_;
};

}  // namespace zembra
