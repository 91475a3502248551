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

bool AllPathsEmpty(const DownloadJob& job) {
    for (const ImageSlot& slot : job.slots)
        if (!slot.path.empty()) return false;
    return true;
}

void ResetProgressMarkers(DownloadJob& job) {
    for (ImageSlot& slot : job.slots) slot.progressMarker = NOT_SENT;
}

}  // namespace zembra
