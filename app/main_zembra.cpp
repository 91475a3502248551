// zembra: the operator window.
//
//   zembra [--multi] [--advanced] [--quit-after MS] [--version] [--help]
//
// --multi and --advanced run the same handlers as the operator's clicks on "멀티다운로드"
// and "+" once the window is up (used for the documentation screenshots); --quit-after
// closes the window after MS milliseconds (a smoke run, e.g. with QT_QPA_PLATFORM=offscreen
// on a machine without a display). Without any display and no platform chosen the program
// says so and exits with status 3 instead of letting Qt abort.
#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "app/AppFont.h"
#include "app/AppWindows.h"
#include "app/DialogHost.h"
#include "app/QtMainThread.h"
#include "platform/MainThread.h"
#include "platform/Version.h"

namespace {

void PrintUsage() {
    std::printf(
        "Usage: zembra [--multi] [--advanced] [--quit-after MS] [--version] [--help]\n"
        "  --multi          start in multi-download mode\n"
        "  --advanced       open the advanced settings panel\n"
        "  --quit-after MS  close the window after MS milliseconds\n"
        "  --version        print the version and exit\n");
}

}  // namespace

int main(int argc, char** argv) {
    // Our options; single-dash options (-platform, -style ...) are Qt's.
    bool multi = false, advanced = false;
    int quitAfterMs = -1;
    bool platformGiven = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--version") {
            std::printf("%s (%s)\n", zembra::kApplicationTitle, zembra::kVersionNumber);
            return 0;
        } else if (arg == "--help" || arg == "-h") {
            PrintUsage();
            return 0;
        } else if (arg == "--multi") {
            multi = true;
        } else if (arg == "--advanced") {
            advanced = true;
        } else if (arg == "--quit-after" && i + 1 < argc) {
            quitAfterMs = std::atoi(argv[++i]);
        } else if (arg.rfind("--", 0) == 0) {
            std::fprintf(stderr, "zembra: unknown option %s\n", arg.c_str());
            PrintUsage();
            return 2;
        } else if (arg == "-platform") {
            platformGiven = true;
        }
    }

    // Without a display Qt would abort; say what to do instead.
    if (!platformGiven && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fprintf(stderr,
                     "zembra: no display (DISPLAY and WAYLAND_DISPLAY are not set).\n"
                     "  To run the window without a screen: QT_QPA_PLATFORM=offscreen zembra "
                     "--quit-after 1000\n"
                     "  For downloads from a console: zembra-cli --help\n");
        return 3;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(zembra::kApplicationTitle));
    QApplication::setFont(zembra::WindowFont());

    zembra::QtDialogHost dialogs;
    try {
        zembra::QtMainThread mainThread;
        zembra::SetProcessMainThread(&mainThread);
        int result = 0;
        {
            zembra::MainFormOptions options;
            options.dialogs = &dialogs;
            zembra::AppWindows windows(options);
            zembra::TMainForm& form = *windows.mainForm;
            dialogs.SetParent(&form);
            mainThread.SetErrorReporter([&form](const std::string& m) { form.ShowException(m); });
            form.show();
            if (multi) form.findChild<QRadioButton*>("RadioButtonMulti")->click();
            if (advanced) form.findChild<QPushButton*>("BitBtnAM")->click();
            if (quitAfterMs >= 0) QTimer::singleShot(quitAfterMs, &form, [&form] { form.close(); });
            result = app.exec();
            dialogs.SetParent(nullptr);
            mainThread.SetErrorReporter(nullptr);
        }
        zembra::SetProcessMainThread(nullptr);
        return result;
    } catch (const std::exception& e) {
        // An error that escapes start-up is shown and ends the program.
        zembra::SetProcessMainThread(nullptr);
        std::fprintf(stderr, "zembra: %s\n", e.what());
        dialogs.ShowMessage(e.what(), zembra::kApplicationTitle,
                            zembra::mb::kOk | zembra::mb::kIconStop);
        return 1;
    }
}
