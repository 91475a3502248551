#pragma once

#include <string>
#include <vector>

#include "job/DownloadJob.h"
#include "job/DownloadSettings.h"
#include "job/StartSnapshot.h"

namespace zembra {

// Caption of the job error box.
inline constexpr char JOB_ERROR_CAPTION[] = "오류";

// Text of ShowJobError(code): codes 10, 1-6, 20, 21-26, 31-36, 41-46, 50-56; empty for any other
// code (ShowJobError shows nothing then).
std::string JobErrorText(int code);

// True when the job error code concerns the choice of files (1-19): the operator may
// override it. Codes from 20 on refuse the start.
constexpr bool IsOverridableJobError(int code) {
    return code >= 1 && code <= 19;
}

// The question the start handlers ask for an overridable code (caption "확인", Yes/No).
inline constexpr char SINGLE_OVERRIDE_QUESTION[] =
    "현재 상태로 다운로드시 문제를 일으킬 수 있습니다. 만약 그래도 다운로드를 하려면 예를 "
    "선택하세요";
inline constexpr char MULTI_OVERRIDE_QUESTION[] =
    "현재 상태로 다운로드시 문제를 일으킬 수 있습니다. 다운로드를 하려면 예를 선택하세요";
inline constexpr char QUESTION_CAPTION[] = "확인";

// Outcome of the start handlers' job checks.
struct JobCheckResult {
    // Every failed check in the order the handler meets them; each one gets its own error
    // box (ShowJobError) at once.
    std::vector<int> codes;
    // The code that counts: the last one recorded, 0 when every check passed.
    int code() const { return codes.empty() ? 0 : codes.back(); }
};

// The job checks of a Start, in order:
//  a. only with a configuration loaded, code slot then fonts 1-6: a non-empty expectedName
//     with an empty path, or a path that does not match (ExpectedNameRule) -> 10 / 1..6;
//  b. all seven paths empty -> 20;
//  c. fonts 1-6 with a path: single Start with allowFont0Address on: empty addressText ->
//     30 + n; otherwise (single with the option off, and always for the multi Start) an
//     address of 0 (an empty text included) -> 20 + n.
//  d. every slot with a path: a font address beyond 32 bits -> 40 + n; an image whose last
//     byte would lie beyond flash address 0xFFFFFFFF (a code image of more than 4 GiB, a
//     font whose address plus size passes 2^32) -> 50 + slot (50 code, 51-56 fonts).
// Addresses come from the snapshot taken at the same Start.
JobCheckResult CheckJob(const DownloadJob& job, const StartSnapshot& snapshot,
                        const DownloadSettings& settings, StartKind kind);

}  // namespace zembra
