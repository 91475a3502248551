// The program's real dialog host on Qt's dialogs, driven from a timer as an operator would.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QTranslator>
#include <functional>

#include "AppTestSupport.h"
#include "app/PopUpUnit.h"

namespace zembra::test {
namespace {

// Runs act on the modal dialog once it is up (checked every few milliseconds). A dialog that
// act leaves open (a failed check) is rejected shortly after, so a test never hangs.
void WhenModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(modal);
            QTimer::singleShot(1000, modal, [modal] {
                if (auto* dialog = qobject_cast<QDialog*>(modal); dialog && dialog->isVisible()) {
                    ADD_FAILURE() << "dialog left open";
                    dialog->reject();
                }
            });
        }
    });
    timer->start();
}

void Press(QWidget* modal, QMessageBox::StandardButton which) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    box->button(which)->click();
}

TEST(QtDialogHost, MessageBoxesMapStylesAndAnswers) {
    QtDialogHost host;
    QString seenText, seenTitle;
    WhenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        seenText = box->text();
        seenTitle = box->windowTitle();
        EXPECT_NE(box->button(QMessageBox::Cancel), nullptr);
        Press(modal, QMessageBox::Cancel);
    });
    EXPECT_EQ(host.ShowMessage("질문", "확인", mb::kOkCancel), mb::kIdCancel);
    EXPECT_EQ(seenText, QString::fromUtf8("질문"));
    EXPECT_EQ(seenTitle, QString::fromUtf8("확인"));

    WhenModal([](QWidget* modal) { Press(modal, QMessageBox::Yes); });
    EXPECT_EQ(host.ShowMessage("q", "c", mb::kYesNo | mb::kIconQuestion), mb::kIdYes);
    WhenModal([](QWidget* modal) { Press(modal, QMessageBox::Ok); });
    EXPECT_EQ(host.ShowMessage("파일 저장 오류", "주의", mb::kOk), mb::kIdOk);
}

TEST(QtDialogHost, FileDialogsReturnTheChosenPathOrNothing) {
    TempDir dir;
    const std::string existing = dir / "a.BIN";
    WriteFile(existing, "x");
    QtDialogHost host;
    FileDialogRequest open{"OpenDialogCode", "BIN|*.BIN|All|*.*", "", "BIN", true, false,
                           dir.utf8()};

    WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->objectName(), "OpenDialogCode");
        EXPECT_EQ(dialog->nameFilters().front(), "BIN (*.BIN *.bin)");
        EXPECT_EQ(dialog->directory().absolutePath().toStdString(), dir.utf8());
        dialog->selectFile(QString::fromStdString(existing));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    EXPECT_EQ(host.GetOpenFileName(open), existing);

    WhenModal([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    EXPECT_EQ(host.GetOpenFileName(open), std::nullopt);

    FileDialogRequest save{
        "SaveDialogCfgSave", "TXT|*.txt|All|*.*", "ZembraCFG.TXT", "TXT", false, true, ""};
    WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog->defaultSuffix(), "TXT");
        dialog->setDirectory(QString::fromStdString(dir.utf8()));
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");  // as typed by the operator
        ASSERT_NE(name, nullptr);
        name->setText("new");
        QMetaObject::invokeMethod(dialog, "accept");
    });
    EXPECT_EQ(host.GetSaveFileName(save), dir / "new.TXT");
}

TEST(QtDialogHost, ToolkitButtonsSpeakKorean) {
    ASSERT_TRUE(InstallToolkitTranslation()) << "qt6-translations-l10n is not installed";
    QtDialogHost host;
    QString yes;
    WhenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        yes = box->button(QMessageBox::Yes)->text();
        Press(modal, QMessageBox::No);
    });
    EXPECT_EQ(host.ShowMessage("q", "c", mb::kYesNo), mb::kIdNo);
    EXPECT_TRUE(yes.contains(QString::fromUtf8("예"))) << yes.toStdString();
    for (auto* translator : QCoreApplication::instance()->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}

TEST(QtDialogHost, OwnDialogsAreShownModallyUntilClosed) {
    QtDialogHost host;
    TOKBottomDlgPopUp popUp;
    bool wasModal = false;
    WhenModal([&](QWidget* modal) {
        wasModal = modal == &popUp;
        popUp.findChild<QAbstractButton*>("OKBtn")->click();
    });
    host.ShowModal(popUp);
    EXPECT_TRUE(wasModal);
    EXPECT_FALSE(popUp.isVisible());
}

TEST(QtDialogHost, FiltersBecomeQtFilters) {
    EXPECT_EQ(QtDialogHost::QtFilter("환경 TXT 파일|*.TXT|모든 파일|*.*"),
              "환경 TXT 파일 (*.TXT *.txt);;모든 파일 (*.*)");
    EXPECT_EQ(QtDialogHost::QtFilter("TXT|*.txt|All|*.*"), "TXT (*.txt);;All (*.*)");
}

}  // namespace
}  // namespace zembra::test
