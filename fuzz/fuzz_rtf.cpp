// RTF from another console is untrusted: the reader must stop at the input's
// end, never recurse with its depth and never hang. Whatever it reads must
// survive our writer and come back with the same characters and formats.
#include "richtext/RtfReader.h"
#include "richtext/RtfWriter.h"

#include <QGuiApplication>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>

#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace velmora;

namespace {

struct Props {
    bool bold, italic, underline;
    qreal points;
    QRgb colour;
    bool operator==(const Props &) const = default;
};

// The document's characters and the properties of each, block marks included.
void Flatten(const QTextDocument &document, QString &text, std::vector<Props> &props)
{
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block != document.begin()) {
            text += QChar::ParagraphSeparator;
            props.push_back({});
        }
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat f = fragment.charFormat();
            const QBrush brush = f.foreground();
            const Props p{f.fontWeight() >= QFont::Bold, f.fontItalic(), f.fontUnderline(), f.fontPointSize(),
                          brush.style() == Qt::NoBrush ? 0x1000000u : (brush.color().rgb() & 0xFFFFFF)};
            text += fragment.text();
            props.insert(props.end(), size_t(fragment.length()), p);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    QTextDocument first;
    QTextCursor cursor(&first);
    InsertRtf(bytes, cursor);

    QTextDocument second;
    QTextCursor again(&second);
    if (!InsertRtf(DocumentToRtf(first), again).complete)
        std::abort();

    QString firstText, secondText;
    std::vector<Props> firstProps, secondProps;
    Flatten(first, firstText, firstProps);
    Flatten(second, secondText, secondProps);
    if (firstText != secondText)
        std::abort();
    // Formats matter only where there are characters.
    for (size_t i = 0; i < firstProps.size(); ++i) {
        if (firstText.at(qsizetype(i)) != QChar::ParagraphSeparator && !(firstProps[i] == secondProps[i]))
            std::abort();
    }
    return 0;
}
