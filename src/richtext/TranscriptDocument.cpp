#include "richtext/TranscriptDocument.h"

#include "richtext/HeaderLines.h"

#include <QTextDocument>

namespace velmora {

std::unique_ptr<QTextDocument> TranscriptDocument(const QTextDocument &conversation, const QStringList &headerLines,
                                                  const QColor &color)
{
    std::unique_ptr<QTextDocument> transcript(conversation.clone());
    InsertHeaderLines(*transcript, headerLines, color);
    return transcript;
}

} // namespace velmora
