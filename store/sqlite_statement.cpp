#include "store/sqlite_statement.h"

#include <QByteArray>
#include <QStringList>

#include <utility>

namespace korvela {

QString reportColumnList()
{
    QStringList columns;
    for (int c = 1; c <= 27; ++c)
        columns << QStringLiteral("A%1").arg(c);
    return columns.join(u", ");
}

Failure sqliteFailure(sqlite3* db, int rc)
{
    return {db ? sqlite3_extended_errcode(db) : rc,
            QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc))};
}

SqliteStatement::SqliteStatement(sqlite3* db, const Statement& statement, unsigned prepareFlags)
    : m_db(db)
{
    const QByteArray sql = statement.sql.toUtf8();
    m_rc = sqlite3_prepare_v3(db, sql.constData(), int(sql.size()), prepareFlags, &m_stmt, nullptr);
    for (std::size_t i = 0; m_rc == SQLITE_OK && i < statement.args.size(); ++i)
        m_rc = bind(int(i) + 1, statement.args[i]);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : m_db(other.m_db)
    , m_stmt(std::exchange(other.m_stmt, nullptr))
    , m_rc(other.m_rc)
{
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_stmt);
}

int SqliteStatement::bind(int index, const Value& value)
{
    if (const auto* i = std::get_if<std::int64_t>(&value))
        return sqlite3_bind_int64(m_stmt, index, *i);
    if (const auto* d = std::get_if<double>(&value))
        return sqlite3_bind_double(m_stmt, index, *d);
    if (const auto* s = std::get_if<QString>(&value)) {
        const QByteArray utf8 = s->toUtf8();
        return sqlite3_bind_text64(m_stmt, index, utf8.constData(), sqlite3_uint64(utf8.size()),
                                   SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    return sqlite3_bind_null(m_stmt, index);
}

int SqliteStatement::run()
{
    int rc;
    while ((rc = sqlite3_step(m_stmt)) == SQLITE_ROW) {
    }
    return rc;
}

void SqliteStatement::reset()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

} // namespace korvela
