#include "protocol/SingleShared.h"

namespace zembra {

void SingleShared::RequestStop() {
    {
        // Taken so that a WaitResponse between its check and its sleep cannot miss the wake.
        std::lock_guard<std::mutex> lock(responseMutex);
        stopRequested.store(true);
    }
    responseCv.notify_all();
}

const char* RunOutcomeName(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::None:
            return "None";
        case RunOutcome::Completed:
            return "Completed";
        case RunOutcome::NoStartAnswer:
            return "NoStartAnswer";
        case RunOutcome::VersionRefused:
            return "VersionRefused";
        case RunOutcome::CompressionFailed:
            return "CompressionFailed";
        case RunOutcome::UartSetupFailed:
            return "UartSetupFailed";
        case RunOutcome::JumpFailed:
            return "JumpFailed";
        case RunOutcome::ImageFileProblem:
            return "ImageFileProblem";
        case RunOutcome::EraseFailed:
            return "EraseFailed";
        case RunOutcome::TransferFailed:
            return "TransferFailed";
        case RunOutcome::FileReadError:
            return "FileReadError";
        case RunOutcome::Stopped:
            return "Stopped";
        case RunOutcome::ImageSkipped:
            return "ImageSkipped";
    }
    return "?";
}

}  // namespace zembra
