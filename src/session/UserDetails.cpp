#include "session/UserDetails.h"

#include "diag/SafeText.h"

namespace velmora {

QString UserDetailsLogLine(qint32 sessionCount, const chat::UserDetails &details,
                           const std::optional<QString> &webSite)
{
    // Visitor text is made one line so it cannot forge log lines.
    QString line = QStringLiteral("User details for SessionCount = ") + QString::number(sessionCount)
                   + QStringLiteral(",  Name = ") + OneLine(details.Name());
    if (webSite)
        line += QStringLiteral(",  From Site = ") + OneLine(*webSite);
    return line + QStringLiteral(",  e-mail = ") + OneLine(details.Email());
}

} // namespace velmora
