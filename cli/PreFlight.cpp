#include "cli/PreFlight.h"

#include "job/FlashRanges.h"
#include "job/JobCheck.h"
#include "protocol/AskOperator.h"
#include "protocol/SequenceHost.h"

namespace zembra {

bool PreFlightAccepted(const DownloadJob& job, ConsoleHost& host) {
    const std::vector<std::string> problems = FlashRangeProblems(job);
    if (problems.empty()) return true;
    for (const std::string& line : problems) host.LogSingle(line, COLOUR_RED);
    if (host.ShowMessage(FLASH_RANGE_QUESTION, QUESTION_CAPTION, mb::kYesNo) == mb::kIdYes)
        return true;
    host.Error(
        "job refused: the images' flash ranges have problems (see above; --yes sends it anyway)");
    return false;
}

}  // namespace zembra
