#pragma once

#include <array>
#include <string>

namespace zembra {

// Progress markers of an image row: five blanks and one letter.
inline constexpr char NOT_SENT[] = "     x";  // not sent (initial value, after clearing)
inline constexpr char SENDING[] = "     =";   // being erased or written
inline constexpr char SENT[] = "     o";      // written
// Expected name of a slot while no configuration prescribes one.
inline constexpr char ANY_FILE[] = "     임의파일";

// One image of the download. The seven slots are always kept in this fixed order, which is
// also the download order and the order of every per-slot table (index with ImageSlot::Code,
// ImageSlot::Font1 ... ImageSlot::Font6).
struct ImageSlot {
    enum Id : int { Code = 0, Font1, Font2, Font3, Font4, Font5, Font6 };
    static constexpr int Count = 7;

    bool selected = false;  // the slot holds a file that passed the selection checks
    std::string path;       // full path of the selected file; empty when none
    std::string fileTime;   // last-write time "yy-mm-dd hh:nn:ss"; empty when none
    std::string progressMarker = NOT_SENT;  // NOT_SENT, SENDING or SENT
    std::string expectedName = ANY_FILE;    // file name the loaded configuration prescribes
    std::string addressText;  // font start address as typed (unused for the code slot)
};

// Slot of font n (1..6).
constexpr ImageSlot::Id FontSlot(int n) {
    return static_cast<ImageSlot::Id>(n);
}

// True for Font1 ... Font6.
constexpr bool IsFontSlot(int slot) {
    return slot >= ImageSlot::Font1 && slot <= ImageSlot::Font6;
}

// Slot names as operators see them: "코드", "폰트1" ... "폰트6".
const char* SlotCaption(int slot);

}  // namespace zembra
