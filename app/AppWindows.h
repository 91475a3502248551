#pragma once

#include <memory>

#include "app/Zembra3MainUnit.h"
#include "protocol/DebugTrace.h"

namespace zembra {

class TOKBottomDlgPopUp;
class TOKBottomDlgSMode;

// The program's three windows, created in the start-up order: MainForm, then the
// information pop-up OKBottomDlgPopUp, then the hidden menu OKBottomDlgSMode. They live until
// the object is destroyed (the dialogs after the main window). The debug trace that the
// hidden menu switches lives here too, for the port operations to feed.
struct AppWindows {
    DebugTrace debugTrace;
    std::unique_ptr<TOKBottomDlgSMode> sMode;
    std::unique_ptr<TOKBottomDlgPopUp> popUp;
    std::unique_ptr<TMainForm> mainForm;

    explicit AppWindows(const MainFormOptions& options);
    ~AppWindows();
};

}  // namespace zembra
