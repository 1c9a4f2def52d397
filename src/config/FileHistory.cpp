#include "config/FileHistory.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace velmora {

TFileHistory::TFileHistory(const QString &historyPath, IHistoryMenu *menu) : m_historyPath(historyPath), m_menu(menu) {}

QString TFileHistory::EntryCaption(int index, const QString &path)
{
    return QLatin1Char('&') + QString::number(index + 1) + QStringLiteral("  ") + path;
}

void TFileHistory::Add(const QString &path)
{
    // A name with a line break could not be written back as one line.
    if (!path.isEmpty() && !path.contains(QLatin1Char('\n')) && !path.contains(QLatin1Char('\r'))) {
        m_paths.removeIf([&](const QString &p) { return p.compare(path, Qt::CaseInsensitive) == 0; });
        m_paths.prepend(path);
    }
    RebuildMenu();
}

void TFileHistory::RebuildMenu()
{
    while (m_paths.size() > kMaxEntries)
        m_paths.removeLast();
    if (m_menu)
        m_menu->ShowHistoryEntries(m_paths);
}

void TFileHistory::Load()
{
    m_paths.clear();
    QFile file(m_historyPath);
    if (QFileInfo(m_historyPath).isFile() && QFileInfo(m_historyPath).size() <= kMaxFileSize
        && file.open(QIODevice::ReadOnly)) {
        // Paths are the file system's names, which are UTF-8 here. A line end
        // is CR LF, or a lone CR or LF in a file edited by hand.
        const QString text = QString::fromUtf8(file.readAll());
        for (QString line : text.split(QLatin1Char('\n'))) {
            if (line.endsWith(QLatin1Char('\r')))
                line.chop(1);
            for (const QString &part : line.split(QLatin1Char('\r')))
                if (!part.trimmed().isEmpty())
                    m_paths.append(part);
        }
    }
    RebuildMenu();
}

bool TFileHistory::Save()
{
    QSaveFile file(m_historyPath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray data;
    for (const QString &path : m_paths)
        data += path.toUtf8() + "\r\n";
    if (file.write(data) != data.size())
        return false;
    return file.commit();
}

TFileHistory::ClearResult TFileHistory::Clear()
{
    // No file yet (nothing saved since the first start): the entries added
    // meanwhile are cleared all the same; there is simply nothing to delete.
    if (QFileInfo::exists(m_historyPath) || QFileInfo(m_historyPath).isSymLink()) {
        if (!QFile::remove(m_historyPath))
            return ClearResult::RemoveFailed;
    }
    m_paths.clear();
    RebuildMenu();
    return ClearResult::Cleared;
}

} // namespace velmora
