// Shortcut data files are read from the working folder and may be damaged or
// crafted: the loader must stop at the data's end, never allocate from a
// stored count or length, and what it keeps must write back to the same bytes.
#include "shortcuts/Canneddata.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

using velmora::TTitleDataClass;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const TTitleDataClass::ParseResult parsed = TTitleDataClass::Parse(bytes);

    const QByteArray written = TTitleDataClass::Serialize(parsed.records);
    const TTitleDataClass::ParseResult again = TTitleDataClass::Parse(written);
    if (!again.complete || again.records != parsed.records)
        std::abort();
    // Every kept byte was present in the input, so the rewrite is never larger.
    if (size >= 4 && size_t(written.size()) > size)
        std::abort();
    return 0;
}
