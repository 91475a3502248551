// On Windows the task bar entry shows the application title, which carries the percentage
// already; there is no launcher-entry interface to tell.
#include "app/LauncherEntry.h"

namespace zembra {

void LauncherEntry::SetProgress(std::optional<int> percent) {
    shown_ = percent;
}

}  // namespace zembra
