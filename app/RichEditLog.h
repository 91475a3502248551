#pragma once

#include <QTextEdit>
#include <cstdint>
#include <string>
#include <vector>

namespace zembra {

// Qt colour of a Windows colour value 0x00BBGGRR.
QColor ColourOf(std::uint32_t windowsColour);
// Windows colour value 0x00BBGGRR of a Qt colour.
std::uint32_t WindowsColourOf(const QColor& colour);

// A read-only log pane whose lines each keep their own colour. Lines are only appended.
class RichEditLog : public QTextEdit {
    Q_OBJECT
  public:
    explicit RichEditLog(QWidget* parent = nullptr);

    // Appends text as a new last line in the colour (Windows colour value).
    void AppendLine(const std::string& text, std::uint32_t colour);

    struct Line {
        std::string text;
        std::uint32_t colour;
    };
    // Every line with the colour of its first character (black for an empty line).
    std::vector<Line> Lines() const;

  private:
    bool empty_ = true;  // no line appended yet: the first line goes into the empty block
};

}  // namespace zembra
