#pragma once
// The transcript of a chat as a document of its own: a copy of the
// conversation with the header block above it, so that the conversation
// shown on screen is never edited for the mail.
#include <QColor>
#include <QStringList>

#include <memory>

class QTextDocument;

namespace velmora {

// `conversation` copied, with `headerLines` at the top in `color`
// (InsertHeaderLines); the conversation itself is left as it is.
std::unique_ptr<QTextDocument> TranscriptDocument(const QTextDocument &conversation, const QStringList &headerLines,
                                                  const QColor &color);

} // namespace velmora
