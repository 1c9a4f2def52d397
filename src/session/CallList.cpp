#include "session/CallList.h"

#include "diag/Boxes.h"
#include "diag/Logdata.h"
#include "session/ChatItem.h"

#include <QDateTime>
#include <QLocale>
#include <QTime>

namespace velmora {

namespace {

struct StatusEntry {
    const char *text;
    int icon;
};

constexpr StatusEntry kStatuses[kCallStatusCount] = {
    {"Waiting...", 6}, {"Accept...", 0},   {"In Chat...", 1}, {"Disconnected", 5}, {"Anonymous", 3},
    {"Answered", 2},   {"End Chat !", 4},  {"Net Error !", 0}, {"Normal", 7},      {"Transfered !", 8},
};

struct ColumnEntry {
    const char *caption;
    int width;
};

constexpr ColumnEntry kColumns[kCallColumnCount] = {
    {"Status", 80},      {"Client Name", 70}, {"WEB site", 80}, {"Client e-mail", 90},
    {"Client Phone", 90}, {"Start Time", 70}, {"End Time", 70}, {"", 0},
};

bool ValidStatus(int status)
{
    return status >= 0 && status < kCallStatusCount;
}

} // namespace

QString CallStatusText(int status)
{
    return ValidStatus(status) ? QString::fromLatin1(kStatuses[status].text) : QString();
}

int CallStatusIcon(int status)
{
    return ValidStatus(status) ? kStatuses[status].icon : -1;
}

TCallList::TCallList(TLogFile *log, QObject *parent) : QAbstractTableModel(parent), m_log(log) {}

void TCallList::SetIconProvider(std::function<QVariant(int)> provider)
{
    m_iconProvider = std::move(provider);
    if (!m_rows.empty())
        emit dataChanged(index(0, ColStatus), index(Count() - 1, ColStatus), {Qt::DecorationRole});
}

int TCallList::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Count();
}

int TCallList::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kCallColumnCount;
}

QVariant TCallList::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= Count() || index.column() >= kCallColumnCount)
        return {};
    const Row &row = m_rows[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return row.cells[index.column()];
    case Qt::DecorationRole:
        if (index.column() == ColStatus && m_iconProvider)
            return m_iconProvider(CallStatusIcon(row.status));
        return {};
    case Qt::ToolTipRole:
        // The site is shortened in its column; the whole of it shows here.
        if (index.column() == ColWebSite && !row.cells[ColWebSite].isEmpty())
            return row.cells[ColWebSite];
        return {};
    case StatusRole:
        return row.status;
    default:
        return {};
    }
}

QVariant TCallList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kCallColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return ColumnCaption(section);
    return {};
}

Qt::ItemFlags TCallList::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

QString TCallList::ColumnCaption(int column)
{
    return column >= 0 && column < kCallColumnCount ? QString::fromLatin1(kColumns[column].caption) : QString();
}

int TCallList::ColumnWidth(int column)
{
    return column >= 0 && column < kCallColumnCount ? kColumns[column].width : 0;
}

ChatItem *TCallList::RowData(int row) const
{
    return row >= 0 && row < Count() ? m_rows[size_t(row)].link : nullptr;
}

int TCallList::RowStatus(int row) const
{
    return row >= 0 && row < Count() ? m_rows[size_t(row)].status : -1;
}

QString TCallList::Cell(int row, int column) const
{
    if (row < 0 || row >= Count() || column < 0 || column >= kCallColumnCount)
        return {};
    return m_rows[size_t(row)].cells[column];
}

qint64 TCallList::RowStarted(int row) const
{
    return row < 0 || row >= Count() ? 0 : m_rows[size_t(row)].started;
}

quint64 TCallList::RowId(int row) const
{
    return row >= 0 && row < Count() ? m_rows[size_t(row)].id : 0;
}

int TCallList::FindRowById(quint64 id) const
{
    for (int i = 0; i < Count(); ++i)
        if (m_rows[size_t(i)].id == id)
            return i;
    return -1;
}

QString TCallList::TimeText()
{
    return QLocale::system().toString(QTime::currentTime(), QLocale::LongFormat);
}

int TCallList::AddCallRow(ChatItem *record, int status)
{
    if (!record)
        return -1;
    Row row;
    row.id = m_nextId++;
    row.status = status;
    row.link = record;
    row.cells[ColStatus] = CallStatusText(status);
    row.cells[ColClientName] = CallStatusText(CallStatusAnonymous);
    row.cells[ColWebSite] = record->WebSite;
    row.cells[ColStartTime] = TimeText();
    row.started = QDateTime::currentMSecsSinceEpoch();
    const quint64 id = row.id;
    beginInsertRows(QModelIndex(), Count(), Count());
    m_rows.push_back(std::move(row));
    endInsertRows();
    ApplyRowLimit();
    return FindRowById(id);
}

int TCallList::AddHistoryRow(const QString &webSite, int status)
{
    Row row;
    row.id = m_nextId++;
    row.status = status;
    row.cells[ColStatus] = CallStatusText(status);
    row.cells[ColClientName] = CallStatusText(CallStatusAnonymous);
    row.cells[ColWebSite] = webSite;
    row.cells[ColStartTime] = TimeText();
    row.started = QDateTime::currentMSecsSinceEpoch();
    row.cells[ColEndTime] = row.cells[ColStartTime];
    const quint64 id = row.id;
    beginInsertRows(QModelIndex(), Count(), Count());
    m_rows.push_back(std::move(row));
    endInsertRows();
    ApplyRowLimit();
    return FindRowById(id);
}

void TCallList::ApplyRowLimit()
{
    if (Count() < kCallRowLimit)
        return;
    for (int i = 0; i < Count(); ++i) {
        if (!m_rows[size_t(i)].link) {
            RemoveRow(i);
            return;
        }
    }
    // Calls keep coming while it shows: nothing may wait for its answer.
    emit Notice(QStringLiteral("To many waiting chat requests !!!!"), QStringLiteral("Warning"), BoxIcon::Warning);
}

void TCallList::RemoveRow(int row)
{
    beginRemoveRows(QModelIndex(), row, row);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
}

ChatItem *TCallList::FindCallBySession(qint32 sessionCount) const
{
    return RowData(FindRowBySession(sessionCount));
}

int TCallList::FindRowBySession(qint32 sessionCount) const
{
    for (int i = 0; i < Count(); ++i) {
        const ChatItem *link = m_rows[size_t(i)].link;
        if (link && link->SessionCount == sessionCount)
            return i;
    }
    return -1;
}

ChatItem *TCallList::FindCallBySocket(const TClientSocket *socket) const
{
    return RowData(FindRowBySocket(socket));
}

int TCallList::FindRowBySocket(const TClientSocket *socket) const
{
    if (!socket)
        return -1;
    for (int i = 0; i < Count(); ++i) {
        const ChatItem *link = m_rows[size_t(i)].link;
        if (link && link->Socket == socket)
            return i;
    }
    return -1;
}

int TCallList::FindRowByRecord(const ChatItem *record) const
{
    if (!record)
        return -1;
    for (int i = 0; i < Count(); ++i)
        if (m_rows[size_t(i)].link == record)
            return i;
    return -1;
}

void TCallList::SetCallStatus(qint32 sessionCount, int status)
{
    SetRowStatus(FindRowBySession(sessionCount), status);
}

void TCallList::SetCallStatus(const TClientSocket *socket, int status)
{
    SetRowStatus(FindRowBySocket(socket), status);
}

void TCallList::SetRowStatus(int row, int status)
{
    if (row < 0 || row >= Count() || !ValidStatus(status))
        return;
    Row &r = m_rows[size_t(row)];
    r.status = status;
    r.cells[ColStatus] = CallStatusText(status);
    RowChanged(row);
}

void TCallList::UpdateDisconnectTime(const TClientSocket *socket)
{
    const int row = FindRowBySocket(socket);
    if (row < 0) {
        emit Problem(QStringLiteral("From inside UpdateDisconnectTime(TClientSocket *Socket): Idex == -1"),
                     QStringLiteral("Warning"), BoxIcon::Warning);
        return;
    }
    SetRowEndTime(row);
    Log(QStringLiteral("Session with client has endded, SessionCount = ")
        + QString::number(m_rows[size_t(row)].link->SessionCount));
}

void TCallList::SetRowEndTime(int row)
{
    SetCell(row, ColEndTime, TimeText());
}

void TCallList::NullListViewItemData(const TClientSocket *socket)
{
    const int row = FindRowBySocket(socket);
    if (row < 0) {
        emit Problem(QStringLiteral("From inside NullListViewItemData(TClientSocket *Socket): Idex == -1"),
                     QStringLiteral("Warning"), BoxIcon::Warning);
        return;
    }
    m_rows[size_t(row)].link = nullptr;
    RowChanged(row);
}

void TCallList::NullListViewItemData(qint32 sessionCount)
{
    const int row = FindRowBySession(sessionCount);
    if (row < 0)
        return;
    m_rows[size_t(row)].link = nullptr;
    RowChanged(row);
}

void TCallList::UnlinkRecord(const ChatItem *record)
{
    for (int row = FindRowByRecord(record); row >= 0; row = FindRowByRecord(record)) {
        m_rows[size_t(row)].link = nullptr;
        RowChanged(row);
    }
}

void TCallList::SetCallName(const TClientSocket *socket, const QString &name)
{
    SetCell(FindRowBySocket(socket), ColClientName, name);
}

void TCallList::SetCallEmail(const TClientSocket *socket, const QString &email)
{
    SetCell(FindRowBySocket(socket), ColClientEmail, email);
}

void TCallList::SetCallPhone(const TClientSocket *socket, const QString &phone)
{
    SetCell(FindRowBySocket(socket), ColClientPhone, phone);
}

void TCallList::SetRowEmail(int row, const QString &email)
{
    SetCell(row, ColClientEmail, email);
}

QString TCallList::StatusOfCall(qint32 sessionCount) const
{
    const int row = FindRowBySession(sessionCount);
    return row < 0 ? QString() : m_rows[size_t(row)].cells[ColStatus];
}

void TCallList::ClearStatDisplay()
{
    // One pass from the top; a model reset keeps the view to one repaint.
    bool removed = false;
    for (int i = 0; i < Count();) {
        if (!m_rows[size_t(i)].link) {
            if (!removed)
                beginResetModel();
            removed = true;
            m_rows.erase(m_rows.begin() + i);
        } else {
            ++i;
        }
    }
    if (removed)
        endResetModel();
    if (Count() > 0)
        emit Problem(QStringLiteral("Status cannot be completely cleared you have open sessions ??"),
                     QStringLiteral("Warning !"), BoxIcon::Warning);
}

void TCallList::SetCell(int row, int column, const QString &text)
{
    if (row < 0 || row >= Count() || column < 0 || column >= kCallColumnCount)
        return;
    m_rows[size_t(row)].cells[column] = text;
    RowChanged(row);
}

void TCallList::RowChanged(int row)
{
    emit dataChanged(index(row, 0), index(row, kCallColumnCount - 1));
}

void TCallList::Log(const QString &line)
{
    if (m_log)
        m_log->AddLine(line);
}

} // namespace velmora
