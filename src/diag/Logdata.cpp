#include "diag/Logdata.h"

#include "diag/Boxes.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>

namespace velmora {

TLogFile::TLogFile(const QString &fileName)
{
    m_file = std::fopen(QFile::encodeName(fileName).constData(), "a+");
    if (!m_file)
        ShowBox(QStringLiteral("Could not open Velmora log file, session data will not be saved"),
                QStringLiteral("Warning"), BoxIcon::Warning);
}

TLogFile::~TLogFile()
{
    if (m_file)
        std::fclose(m_file);
}

void TLogFile::AddLine(const QString &text)
{
    if (!m_file)
        return;
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    QString line = locale.toString(now.date(), QLocale::ShortFormat) + QStringLiteral(" at ")
                   + locale.toString(now.time(), QLocale::LongFormat) + QStringLiteral("  ") + text;
    // The platform's line break; texts with breaks of their own span several lines.
    line += QLatin1Char('\n');
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_file);
    std::fflush(m_file);
}

} // namespace velmora
