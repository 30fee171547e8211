#pragma once

#include "core/database.h"
#include "store/change_functions.h"
#include "store/history_chain.h"

#include <QRegularExpression>
#include <QStringList>
#include <gtest/gtest.h>

namespace korvela::test {

// Who the store records as the user of this connection: the Linux login with a file, the role on
// a server.
inline QString storeUser(ReportDatabase& db)
{
    if (db.dialect() == SqlDialect::Sqlite)
        return loginName();
    const std::unique_ptr<ResultSet> user = db.createResultSet();
    EXPECT_TRUE(user->open({QStringLiteral("SELECT session_user AS name"), {}}).ok());
    return valueToText(*user->field(QStringLiteral("name")));
}

// The access log's rows in order, each as "event|report_id|number|detail" ("-" for null). Checks
// on the way what every row must have: who and where, the time in UTC with milliseconds, and a
// hash that chains it to the row before.
inline QStringList accessRows(ReportDatabase& db)
{
    const QString who = storeUser(db);
    const std::unique_ptr<ResultSet> rows = db.createResultSet();
    const Status opened =
        rows->open({QStringLiteral("SELECT seq, at, who, host, event, report_id, number, detail, "
                                   "hash FROM access_log ORDER BY seq"),
                    {}});
    EXPECT_TRUE(opened.ok()) << (opened ? "" : opened.failure().description.toStdString());
    const QRegularExpression utc(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"));
    QStringList out;
    QString prev;
    for (; rows && rows->hasCurrentRow(); (void)rows->moveNext()) {
        const auto field = [&](const char* name) { return *rows->field(QString::fromLatin1(name)); };
        std::vector<Value> columns;
        for (const char* name : {"seq", "at", "who", "host", "event", "report_id", "number", "detail"})
            columns.push_back(field(name));
        const QString at = valueToText(field("at"));
        EXPECT_TRUE(utc.match(at).hasMatch()) << at.toStdString();
        EXPECT_EQ(valueToText(field("who")), who);
        EXPECT_FALSE(valueToText(field("host")).isEmpty());
        const QString hash = valueToText(field("hash"));
        EXPECT_EQ(hash, chainDigest(prev, columns)) << "row " << valueToText(field("seq")).toStdString();
        prev = hash;
        QStringList parts;
        for (const char* name : {"event", "report_id", "number", "detail"})
            parts << (isNull(field(name)) ? QStringLiteral("-") : valueToText(field(name)));
        out << parts.join(u'|');
    }
    return out;
}

} // namespace korvela::test
