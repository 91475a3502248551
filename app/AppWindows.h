#pragma once

#include <memory>

#include "app/DownloadController.h"
#include "app/Zembra3MainUnit.h"
#include "protocol/DebugTrace.h"

namespace zembra {

class QtMainThread;
class TOKBottomDlgPopUp;
class TOKBottomDlgSMode;

// The program's three windows, created in the start-up order: MainForm, then the
// information pop-up OKBottomDlgPopUp, then the hidden menu OKBottomDlgSMode, and the
// downloads of the main window (DownloadController). They live until the object is destroyed
// (the downloads first, then the main window, then the dialogs). The debug trace that the
// hidden menu switches lives here too, for the port operations to feed.
//
// The engines reach the GUI thread through the process main thread; when none is set yet
// (tests), one on the Qt event loop is made here and set for the object's life.
struct AppWindows {
    std::unique_ptr<QtMainThread> ownMainThread;
    DebugTrace debugTrace;
    std::unique_ptr<TOKBottomDlgSMode> sMode;
    std::unique_ptr<TOKBottomDlgPopUp> popUp;
    std::unique_ptr<TMainForm> mainForm;
    std::unique_ptr<DownloadController> downloads;

    explicit AppWindows(const MainFormOptions& options, DownloadTimings timings = {});
    ~AppWindows();
};

}  // namespace zembra
