#pragma once

#include <array>
#include <optional>
#include <string>

#include "job/ImageSlot.h"
#include "platform/Helpers.h"

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

// The version of each selected image file when a Start checked the job (nullopt: no path, or
// the file could not be opened then). What a run sends and what its record hashes must still
// be these files: an image replaced or rewritten after the check is not sent.
struct ImageVersions {
    bool taken = false;  // false: nothing was noted, nothing is compared
    std::array<std::optional<FileVersion>, ImageSlot::Count> bySlot{};
};

// The versions of the job's image files now.
ImageVersions ImageVersionsOf(const DownloadJob& job);

// True when the open file is still the version noted for slot (always when none was taken).
bool StillTheCheckedFile(const ImageVersions& versions, int slot, std::FILE* file);

}  // namespace zembra
