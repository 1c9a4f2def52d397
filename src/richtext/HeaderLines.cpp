#include "richtext/HeaderLines.h"

#include "diag/SafeText.h"

#include <QTextCursor>
#include <QTextDocument>

namespace velmora {

void InsertHeaderLines(QTextDocument &document, const QStringList &lines, const QColor &color)
{
    QTextCharFormat format;
    format.setFont(document.defaultFont());
    format.setForeground(color);
    QTextCursor cursor(&document);
    cursor.movePosition(QTextCursor::Start);
    // Plain text with a format: nothing the caller typed is read as markup.
    for (const QString &line : lines) {
        cursor.insertText(OneLine(line), format);
        cursor.insertBlock();
    }
}

} // namespace velmora
