#include "job/DownloadJob.h"

namespace zembra {

const char* SlotCaption(int slot) {
    static const char* const captions[ImageSlot::Count] = {"코드",  "폰트1", "폰트2", "폰트3",
                                                           "폰트4", "폰트5", "폰트6"};
    return slot >= 0 && slot < ImageSlot::Count ? captions[slot] : "";
}

void ClearSlot(ImageSlot& slot) {
    slot.path.clear();
    slot.fileTime.clear();
    slot.progressMarker = NOT_SENT;
    slot.selected = false;
}

ImageVersions ImageVersionsOf(const DownloadJob& job) {
    ImageVersions versions;
    versions.taken = true;
    for (int slot = 0; slot < ImageSlot::Count; ++slot) {
        const std::string& path = job[slot].path;
        if (path.empty()) continue;
        std::FILE* file = OpenRegularFile(path);
        FileVersion version;
        if (file != nullptr && FileVersionOf(file, version))
            versions.bySlot[static_cast<std::size_t>(slot)] = version;
        if (file != nullptr) std::fclose(file);
    }
    return versions;
}

bool StillTheCheckedFile(const ImageVersions& versions, int slot, std::FILE* file) {
    if (!versions.taken) return true;
    const auto& checked = versions.bySlot[static_cast<std::size_t>(slot)];
    FileVersion now;
    return checked && FileVersionOf(file, now) && now == *checked;
}

}  // namespace zembra
