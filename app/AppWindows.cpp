#include "app/AppWindows.h"

#include "app/AppFont.h"
#include "app/DialogHost.h"
#include "app/PopUpUnit.h"
#include "app/QtMainThread.h"
#include "app/SModeUnit.h"
#include "platform/MainThread.h"

namespace zembra {

AppWindows::AppWindows(const MainFormOptions& options, DownloadTimings timings) {
    if (!ProcessMainThread()) {
        ownMainThread = std::make_unique<QtMainThread>();
        SetProcessMainThread(ownMainThread.get());
    }
    mainForm = std::make_unique<TMainForm>(options);
    popUp = std::make_unique<TOKBottomDlgPopUp>();
    popUp->setFont(WindowFont());
    sMode = std::make_unique<TOKBottomDlgSMode>(*options.dialogs, debugTrace);
    sMode->setFont(WindowFont());
    mainForm->AttachDialogs(popUp.get(), sMode.get());
    downloads =
        std::make_unique<DownloadController>(*mainForm, *ProcessMainThread(), debugTrace, timings);
    sMode->SetGuardedFiles([this] {
        const DownloadJob job = mainForm->model().ReadJob();
        std::vector<GuardedFile> guarded{
            {GuardedFile::Role::Configuration, job.configPath},
            {GuardedFile::Role::Configuration, mainForm->configuration().autoConfigPath()},
            {GuardedFile::Role::Records, downloads->recordsPath()}};
        for (int slot = 0; slot < ImageSlot::Count; ++slot)
            guarded.push_back({GuardedFile::Role::Image, job[slot].path});
        return guarded;
    });
}

AppWindows::~AppWindows() {
    downloads.reset();
    mainForm.reset();
    popUp.reset();
    sMode.reset();
    if (ownMainThread) {
        SetProcessMainThread(nullptr);
        ownMainThread.reset();
    }
}

}  // namespace zembra
