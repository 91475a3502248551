#include "app/FormModel.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "app/FormWidgets.h"

namespace zembra {

ImageSlot FormModel::ReadSlot(int slot) const {
    const SlotRow& row = c_.rows.at(static_cast<std::size_t>(slot));
    ImageSlot value;
    value.selected = row.button->isChecked();
    value.path = row.path->text().toStdString();
    value.fileTime = row.time->text().toStdString();
    value.progressMarker = row.process->text().toStdString();
    value.expectedName = row.sFile->text().toStdString();
    if (row.address) value.addressText = row.address->text().toStdString();
    return value;
}

void FormModel::ApplySlot(int slot, const ImageSlot& value) {
    const SlotRow& row = c_.rows.at(static_cast<std::size_t>(slot));
    auto set = [](QLineEdit* edit, const std::string& text) {
        const QString q = Q(text);
        if (edit->text() != q) {
            edit->setText(q);
            edit->setCursorPosition(0);
        }
    };
    row.button->setChecked(value.selected);
    set(row.path, value.path);
    row.path->setToolTip(Q(value.path));  // the whole path, which the field may cut off
    set(row.time, value.fileTime);
    set(row.process, value.progressMarker);
    set(row.sFile, value.expectedName);
    if (row.address) set(row.address, value.addressText);
}

DownloadJob FormModel::ReadJob() const {
    DownloadJob job;
    for (int slot = 0; slot < ImageSlot::Count; ++slot) job[slot] = ReadSlot(slot);
    job.modelName = c_.EditModelName->text().toStdString();
    job.change = c_.CheckBoxChange->isChecked();
    job.configLoaded = configLoaded();
    job.configPath = c_.EditCfgFilePath->text().toStdString();
    return job;
}

void FormModel::ApplyJob(const DownloadJob& job) {
    for (int slot = 0; slot < ImageSlot::Count; ++slot) ApplySlot(slot, job[slot]);
    c_.EditModelName->setText(Q(job.modelName));
    c_.CheckBoxChange->setChecked(job.change);
    c_.SpeedButtonCfg->setChecked(job.configLoaded);
    c_.EditCfgFilePath->setText(Q(job.configPath));
    // While a configuration is in force it fixes Change and the font addresses.
    c_.CheckBoxChange->setEnabled(!job.configLoaded);
    for (int slot = ImageSlot::Font1; slot < ImageSlot::Count; ++slot)
        c_.rows[static_cast<std::size_t>(slot)].address->setEnabled(!job.configLoaded);
}

bool FormModel::configLoaded() const {
    return c_.SpeedButtonCfg->isChecked();
}

DownloadSettings FormModel::ReadSettings() const {
    DownloadSettings s;
    s.usbProtocol =
        ProtocolOf(c_.RadioButtonAutoUSB, c_.PressProgressUSBRadioButton, c_.NormalUSBRadioButton);
    s.serialProtocol = ProtocolOf(c_.RadioButtonUARTAuto, c_.RadioButtonPUART, c_.RadioButtonUART);
    s.packetResponseWaitMs = c_.EditResponseWaitTime->text().toStdString();
    s.normalResponseWaitMs = c_.EditNormalCMDWaitTime->text().toStdString();
    s.cmdGapMs = c_.EditCmd2CmdWaitTime->text().toStdString();
    s.eraseWaitSec = c_.EditEraseWaitTime->text().toStdString();
    s.multiEraseExcessSec = c_.EditMultiEraseMeanTime->text().toStdString();
    s.showInvalidFcsNak = c_.CheckBoxViewInvalidFCS->isChecked();
    s.checkBinSize64K = c_.CheckBoxBinSizeCheck->isChecked();
    s.allowFont0Address = c_.CheckBoxFont0Check->isChecked();
    s.autoHexPrefix = c_.CheckBoxAuto16->isChecked();
    return s;
}

void FormModel::ApplySettings(const DownloadSettings& s) {
    // In the order of the initial-value button.
    SetProtocol(s.usbProtocol, c_.RadioButtonAutoUSB, c_.PressProgressUSBRadioButton,
                c_.NormalUSBRadioButton);
    SetProtocol(s.serialProtocol, c_.RadioButtonUARTAuto, c_.RadioButtonPUART, c_.RadioButtonUART);
    c_.EditResponseWaitTime->setText(Q(s.packetResponseWaitMs));
    c_.EditNormalCMDWaitTime->setText(Q(s.normalResponseWaitMs));
    c_.EditCmd2CmdWaitTime->setText(Q(s.cmdGapMs));
    c_.EditEraseWaitTime->setText(Q(s.eraseWaitSec));
    c_.EditMultiEraseMeanTime->setText(Q(s.multiEraseExcessSec));
    c_.CheckBoxViewInvalidFCS->setChecked(s.showInvalidFcsNak);
    c_.CheckBoxBinSizeCheck->setChecked(s.checkBinSize64K);
    c_.CheckBoxFont0Check->setChecked(s.allowFont0Address);
    c_.CheckBoxAuto16->setChecked(s.autoHexPrefix);
}

Link FormModel::ReadLink() const {
    return c_.RadioButtonSerial->isChecked() ? Link::Serial : Link::Usb;
}

}  // namespace zembra
