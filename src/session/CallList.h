#pragma once
// The call list: one row per call of the program run. Active rows are linked
// to their call record; a row whose link is cleared is history. The list is a
// table model so the main window's view repaints once per change; it holds no
// widgets itself (icons come from a provider the view installs).
#include "diag/Boxes.h"
#include "session/CallStatus.h"

#include <QAbstractTableModel>
#include <QString>

#include <functional>
#include <vector>

namespace velmora {

class TClientSocket;
class TLogFile;
struct ChatItem;

enum TCallColumn {
    ColStatus = 0,
    ColClientName,
    ColWebSite,
    ColClientEmail,
    ColClientPhone,
    ColStartTime,
    ColEndTime,
    ColHidden, // an empty column that is never shown
};
constexpr int kCallColumnCount = 8;

// Rows at which adding one more pushes out the oldest finished call.
constexpr int kCallRowLimit = 6;

class TCallList : public QAbstractTableModel {
    Q_OBJECT
public:
    // The data role that carries the row's status number (column 0).
    static constexpr int StatusRole = Qt::UserRole + 1;

    explicit TCallList(TLogFile *log = nullptr, QObject *parent = nullptr);

    // The view's image list: status icon index -> a QIcon (as QVariant).
    void SetIconProvider(std::function<QVariant(int)> provider);

    // --- the model --------------------------------------------------------
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    static QString ColumnCaption(int column);
    static int ColumnWidth(int column);

    // --- rows -------------------------------------------------------------
    int Count() const { return int(m_rows.size()); }
    ChatItem *RowData(int row) const;
    int RowStatus(int row) const;
    QString Cell(int row, int column) const;
    // When the row's call began (ms since the epoch), as its start time shows.
    qint64 RowStarted(int row) const;
    // A number that stays with the row while rows above it come and go.
    quint64 RowId(int row) const;
    int FindRowById(quint64 id) const;

    // Appends a linked row (status CallStatusAccept or CallStatusWaiting) and applies the
    // row limit. Returns the new row's index, -1 for a null record.
    int AddCallRow(ChatItem *record, int status);
    // A finished call that never got a linked row (history only).
    int AddHistoryRow(const QString &webSite, int status);

    // Lookups take the first linked row from the top; unlinked rows are skipped.
    ChatItem *FindCallBySession(qint32 sessionCount) const;
    int FindRowBySession(qint32 sessionCount) const;
    ChatItem *FindCallBySocket(const TClientSocket *socket) const;
    int FindRowBySocket(const TClientSocket *socket) const;
    int FindRowByRecord(const ChatItem *record) const;

    void SetCallStatus(qint32 sessionCount, int status);
    void SetCallStatus(const TClientSocket *socket, int status);
    void SetRowStatus(int row, int status);

    // "End Time" now, with its log line; a call without a row gets the
    // "From inside ..." box instead.
    void UpdateDisconnectTime(const TClientSocket *socket);
    // "End Time" now, nothing logged.
    void SetRowEndTime(int row);

    // Clears a row's link. By connection a missing row gets the "From inside
    // ..." box; by SessionCount it is ignored.
    void NullListViewItemData(const TClientSocket *socket);
    void NullListViewItemData(qint32 sessionCount);
    // Clears every link to `record` (it is about to be destroyed).
    void UnlinkRecord(const ChatItem *record);

    void SetCallName(const TClientSocket *socket, const QString &name);
    void SetCallEmail(const TClientSocket *socket, const QString &email);
    void SetCallPhone(const TClientSocket *socket, const QString &phone);
    void SetRowEmail(int row, const QString &email);

    // The status text of the call's row; empty when no row matches.
    QString StatusOfCall(qint32 sessionCount) const;

    // Deletes every unlinked row; a box tells when active rows remain.
    void ClearStatDisplay();

    // The current local time as the list shows it.
    static QString TimeText();

signals:
    // For the operator: Problem waits to be seen, Notice holds nothing up.
    void Problem(const QString &text, const QString &caption, BoxIcon icon);
    void Notice(const QString &text, const QString &caption, BoxIcon icon);

private:
    struct Row {
        quint64 id = 0;
        int status = CallStatusWaiting;
        QString cells[kCallColumnCount];
        qint64 started = 0;
        ChatItem *link = nullptr;
    };

    void SetCell(int row, int column, const QString &text);
    void RowChanged(int row);
    void RemoveRow(int row);
    void ApplyRowLimit();
    void Log(const QString &line);

    TLogFile *m_log;
    std::vector<Row> m_rows;
    quint64 m_nextId = 1;
    std::function<QVariant(int)> m_iconProvider;
};

} // namespace velmora
