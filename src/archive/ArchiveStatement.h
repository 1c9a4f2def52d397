// The archive library's own access to its SQLite file: one prepared
// statement, and a chat read from the columns a statement selects.
#pragma once

#include "archive/ArchiveDb.h"

#include <QByteArray>
#include <QString>

#include <sqlite3.h>

namespace velmora {

// One prepared statement, finalized when it goes out of scope.
class ArchiveStatement {
public:
    ArchiveStatement(sqlite3 *db, const QString &sql)
    {
        const QByteArray utf8 = sql.toUtf8();
        m_rc = sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &m_statement, nullptr);
    }
    ~ArchiveStatement() { sqlite3_finalize(m_statement); }
    ArchiveStatement(const ArchiveStatement &) = delete;
    ArchiveStatement &operator=(const ArchiveStatement &) = delete;

    bool Ok() const { return m_rc == SQLITE_OK || m_rc == SQLITE_ROW || m_rc == SQLITE_DONE; }
    int Code() const { return m_rc; }

    void Bind(int index, qint64 value) { sqlite3_bind_int64(m_statement, index, value); }
    void Bind(int index, const QString &value)
    {
        const QByteArray utf8 = value.toUtf8();
        sqlite3_bind_text(m_statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    void Bind(int index, const QByteArray &value)
    {
        if (value.isNull())
            sqlite3_bind_null(m_statement, index);
        else
            sqlite3_bind_blob(m_statement, index, value.constData(), int(value.size()), SQLITE_TRANSIENT);
    }
    // For running it again with new bindings.
    void Reset()
    {
        sqlite3_reset(m_statement);
        m_rc = SQLITE_OK;
    }
    // Binds ":name" when the statement has it.
    template <class T>
    void Bind(const char *name, const T &value)
    {
        if (const int index = sqlite3_bind_parameter_index(m_statement, name))
            Bind(index, value);
    }
    // True while there is a row; afterwards Code() tells DONE from a failure.
    bool Step()
    {
        if (!m_statement)
            return false;
        m_rc = sqlite3_step(m_statement);
        return m_rc == SQLITE_ROW;
    }
    bool Run()
    {
        while (Step()) {
        }
        return m_rc == SQLITE_DONE;
    }
    bool Done() const { return m_rc == SQLITE_DONE; }
    qint64 Int(int column) const { return sqlite3_column_int64(m_statement, column); }
    QString Text(int column) const
    {
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column)),
                                 sqlite3_column_bytes(m_statement, column));
    }
    QByteArray Blob(int column) const
    {
        if (sqlite3_column_type(m_statement, column) == SQLITE_NULL)
            return {};
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(m_statement, column)),
                          sqlite3_column_bytes(m_statement, column));
    }

private:
    sqlite3_stmt *m_statement = nullptr;
    int m_rc = SQLITE_OK;
};

// A chat from `read`'s columns id, session, kind, visitor, email, phone, site,
// ip, started, ended, status, supporter, other_supporter, ended_properly,
// open, announced, answered, held_from, held_until, ended_by, in that order
// from column `first`.
TArchiveChat ArchiveChatFrom(const ArchiveStatement &read, int first = 0);

} // namespace velmora
