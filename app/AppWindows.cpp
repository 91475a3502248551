#include "app/AppWindows.h"

#include "app/AppFont.h"
#include "app/DialogHost.h"
#include "app/PopUpUnit.h"
#include "app/SModeUnit.h"

namespace zembra {

AppWindows::AppWindows(const MainFormOptions& options) {
    mainForm = std::make_unique<TMainForm>(options);
    popUp = std::make_unique<TOKBottomDlgPopUp>();
    popUp->setFont(WindowFont());
    sMode = std::make_unique<TOKBottomDlgSMode>(*options.dialogs, debugTrace);
    sMode->setFont(WindowFont());
    mainForm->AttachDialogs(popUp.get(), sMode.get());
}

AppWindows::~AppWindows() {
    mainForm.reset();
    popUp.reset();
    sMode.reset();
}

}  // namespace zembra
