#pragma once

#include <array>
#include <string>

#include "job/ImageSlot.h"

namespace zembra {

// The set of images one press of Start sends to a phone, with the model text, the Change
// option and the state of a configuration loaded through the dialog.
struct DownloadJob {
    std::array<ImageSlot, ImageSlot::Count> slots{};
    std::string modelName;
    bool change = false;        // alternative handling of the code image
    bool configLoaded = false;  // a configuration file was loaded through the dialog
    std::string configPath;     // that file's path; empty otherwise

    ImageSlot& operator[](int slot) { return slots[static_cast<std::size_t>(slot)]; }
    const ImageSlot& operator[](int slot) const { return slots[static_cast<std::size_t>(slot)]; }
};

// Empties the slot: path, time, marker back to NOT_SENT, button up. Keeps expectedName and
// addressText.
void ClearSlot(ImageSlot& slot);

// True when no slot has a path.
bool AllPathsEmpty(const DownloadJob& job);

// Sets all seven progress markers to NOT_SENT (end of a download).
void ResetProgressMarkers(DownloadJob& job);

}  // namespace zembra
