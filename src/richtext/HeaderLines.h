#pragma once
// Lines put above a document's text (the transcript's header block).
#include <QColor>
#include <QStringList>

class QTextDocument;

namespace velmora {

// Inserts `lines` at the top of `document`, one paragraph each, in the
// document's default font and `color`; the text after them keeps its format.
void InsertHeaderLines(QTextDocument &document, const QStringList &lines, const QColor &color);

} // namespace velmora
