#pragma once

#include <optional>

namespace zembra {

// The progress on the program's task bar entry, for the Linux desktops that offer the
// launcher-entry interface (KDE Plasma's task manager, Ubuntu's dock, Dash to Dock, Plank):
// the signal com.canonical.Unity.LauncherEntry.Update on the session bus for the desktop
// entry "application://zembra.desktop", with "progress" (0.0-1.0) and "progress-visible".
// Only changes are sent; without a session bus nothing is sent and nothing fails.
//
// Threads: the main thread only. The bus is connected on the first change, not at start-up.
class LauncherEntry {
  public:
    // The percentage shown (0-100), or no progress at all.
    void SetProgress(std::optional<int> percent);

  private:
    std::optional<int> shown_;
};

}  // namespace zembra
