// zembra: the operator window.
//
//   zembra [--multi] [--advanced] [--quit-after MS] [--version] [--help]
//
// --multi and --advanced run the same handlers as the operator's clicks on "멀티다운로드"
// and "+" once the window is up (used for the documentation screenshots); --quit-after
// closes the window after MS milliseconds (a smoke run, e.g. with QT_QPA_PLATFORM=offscreen
// on a machine without a display).
#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <exception>

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
    for (int i = 1; i < argc; ++i) {  // options that need no display
        const std::string arg = argv[i];
        if (arg == "--version") {
            std::printf("%s (%s)\n", zembra::kApplicationTitle, zembra::kVersionNumber);
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            PrintUsage();
            return 0;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(zembra::kApplicationTitle));
    QApplication::setFont(zembra::WindowFont());

    bool multi = false, advanced = false;
    int quitAfterMs = -1;
    const QStringList args = QApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == "--multi") {
            multi = true;
        } else if (args[i] == "--advanced") {
            advanced = true;
        } else if (args[i] == "--quit-after" && i + 1 < args.size()) {
            quitAfterMs = args[++i].toInt();
        } else {
            std::fprintf(stderr, "zembra: unknown option %s\n", args[i].toLocal8Bit().constData());
            PrintUsage();
            return 2;
        }
    }

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
            form.show();
            if (multi) form.findChild<QRadioButton*>("RadioButtonMulti")->click();
            if (advanced) form.findChild<QPushButton*>("BitBtnAM")->click();
            if (quitAfterMs >= 0) QTimer::singleShot(quitAfterMs, &form, [&form] { form.close(); });
            result = app.exec();
            dialogs.SetParent(nullptr);
        }
        zembra::SetProcessMainThread(nullptr);
        return result;
    } catch (const std::exception& e) {
        // An error that escapes start-up is shown and ends the program.
        std::fprintf(stderr, "zembra: %s\n", e.what());
        dialogs.ShowMessage(e.what(), zembra::kApplicationTitle,
                            zembra::mb::kOk | zembra::mb::kIconStop);
        return 1;
    }
}
