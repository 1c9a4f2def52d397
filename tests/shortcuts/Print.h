#pragma once
// Readable failure messages for shortcut records.
#include "shortcuts/Canneddata.h"

#include <ostream>

namespace velmora {
inline void PrintTo(const ShortcutRecord &r, std::ostream *os)
{
    *os << '{' << '"' << r.Title.toStdString() << "\", \"" << r.Text.toStdString() << "\"}";
}
} // namespace velmora
