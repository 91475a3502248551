#include "app/RichEditLog.h"

#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

namespace zembra {

QColor ColourOf(std::uint32_t c) {
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                  static_cast<int>((c >> 16) & 0xFF));
}

std::uint32_t WindowsColourOf(const QColor& colour) {
    return static_cast<std::uint32_t>(colour.red()) |
           (static_cast<std::uint32_t>(colour.green()) << 8) |
           (static_cast<std::uint32_t>(colour.blue()) << 16);
}

RichEditLog::RichEditLog(QWidget* parent) : QTextEdit(parent) {
    setReadOnly(true);
    setFocusPolicy(Qt::ClickFocus);  // read-only: not a stop of the Tab key
    setAcceptRichText(false);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setLineWrapMode(QTextEdit::WidgetWidth);
}

void RichEditLog::AppendLine(const std::string& text, std::uint32_t colour) {
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(ColourOf(colour));
    if (!empty_) cursor.insertBlock(QTextBlockFormat(), format);
    cursor.setCharFormat(format);
    cursor.insertText(QString::fromStdString(text), format);
    empty_ = false;
    // The caret follows the newest line, so the pane keeps it in view.
    setTextCursor(cursor);
}

std::vector<RichEditLog::Line> RichEditLog::Lines() const {
    std::vector<Line> lines;
    if (empty_) return lines;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        std::uint32_t colour = 0;
        auto it = block.begin();
        if (!it.atEnd())
            colour = WindowsColourOf(it.fragment().charFormat().foreground().color());
        else
            colour = WindowsColourOf(block.charFormat().foreground().color());
        lines.push_back({block.text().toStdString(), colour});
    }
    return lines;
}

}  // namespace zembra
