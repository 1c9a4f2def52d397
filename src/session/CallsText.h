#pragma once
// Texts the parts of the call handling share.
#include <QString>

namespace velmora {

inline const QString kCaptionWarning = QStringLiteral("Warning");

inline QString ChatLimitReachedText()
{
    return QStringLiteral("Cannot Open more chat windows. Please close\none of the current chat windows first !.");
}

} // namespace velmora
