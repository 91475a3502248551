#pragma once

#include "cli/ConsoleHost.h"
#include "job/DownloadJob.h"

namespace zembra {

// The check before anything is sent: the problems of the job's flash ranges (overlapping
// images, a range beyond the 4 GiB address space, an image larger than its 32-bit erase
// length) as red lines, then the operator's answer to FLASH_RANGE_QUESTION (--yes, --no or
// the terminal). True when the job has no such problem or the operator confirmed it.
bool PreFlightAccepted(const DownloadJob& job, ConsoleHost& host);

}  // namespace zembra
