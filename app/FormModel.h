#pragma once

#include <array>
#include <string>

#include "job/DownloadJob.h"
#include "job/DownloadSettings.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace zembra {

// One row of the image table.
struct SlotRow {
    QPushButton* button = nullptr;  // SpeedButtonCode / SpeedButtonFontN
    QLineEdit* sFile = nullptr;     // expected name
    QLineEdit* address = nullptr;   // fonts only
    QLineEdit* path = nullptr;
    QLineEdit* time = nullptr;
    QLineEdit* process = nullptr;
};

// The form's controls that hold the job and the settings (the form makes and lays them out).
struct ModelControls {
    std::array<SlotRow, ImageSlot::Count> rows;
    QPushButton* SpeedButtonCfg = nullptr;
    QLineEdit* EditCfgFilePath = nullptr;
    QLineEdit* EditModelName = nullptr;
    QCheckBox* CheckBoxChange = nullptr;
    QRadioButton* RadioButtonSerial = nullptr;
    QRadioButton* RadioButtonAutoUSB = nullptr;
    QRadioButton* PressProgressUSBRadioButton = nullptr;
    QRadioButton* NormalUSBRadioButton = nullptr;
    QRadioButton* RadioButtonUARTAuto = nullptr;
    QRadioButton* RadioButtonPUART = nullptr;
    QRadioButton* RadioButtonUART = nullptr;
    QLineEdit* EditResponseWaitTime = nullptr;
    QLineEdit* EditNormalCMDWaitTime = nullptr;
    QLineEdit* EditCmd2CmdWaitTime = nullptr;
    QLineEdit* EditEraseWaitTime = nullptr;
    QLineEdit* EditMultiEraseMeanTime = nullptr;
    QCheckBox* CheckBoxViewInvalidFCS = nullptr;
    QCheckBox* CheckBoxBinSizeCheck = nullptr;
    QCheckBox* CheckBoxFont0Check = nullptr;
    QCheckBox* CheckBoxAuto16 = nullptr;
};

// The one adapter between the window and the model of job/. The controls are the live state
// of the job and the settings: there is no second copy. ReadJob / ReadSettings build the model
// from the controls on demand (for the configuration writer, the Start snapshot, the selection
// checks) and ApplyJob / ApplySettings put a model back into them (configuration reader,
// initial values).
class FormModel {
  public:
    explicit FormModel(const ModelControls& controls) : c_(controls) {}

    ImageSlot ReadSlot(int slot) const;
    void ApplySlot(int slot, const ImageSlot& value);
    DownloadJob ReadJob() const;
    void ApplyJob(const DownloadJob& job);
    DownloadSettings ReadSettings() const;
    void ApplySettings(const DownloadSettings& settings);
    Link ReadLink() const;  // RadioButtonUSB / RadioButtonSerial
    bool configLoaded() const;

  private:
    const ModelControls& c_;
};

}  // namespace zembra
