#include "protocol/SingleShared.h"

namespace zembra {

void SingleShared::RequestStop() {
    stopRequested.store(true);
    answers.WakeWaiter();
}

}  // namespace zembra
