#include "records/history_schema.h"

#include "records/report_sql.h"

namespace korvela {

namespace {

// The time of a change as the history writes it: UTC to the millisecond, the same text on both
// engines.
constexpr char16_t kFileNow[] = u"strftime('%Y-%m-%dT%H:%M:%fZ', 'now')";

struct Change
{
    const char16_t* event;  // INSERT, UPDATE, DELETE
    const char16_t* action; // the history's own word for it
    const char16_t* name;   // of the trigger (and on the server its function)
    bool before;            // the change has a version before it
    bool after;             // and one after it
};

constexpr Change kChanges[] = {
    {u"INSERT", u"新建", u"inserted", false, true},
    {u"UPDATE", u"修改", u"updated", true, true},
    {u"DELETE", u"删除", u"deleted", true, false},
};

// The tables of both engines; `id` is the chain's own column of order.
QString tables(const QString& id, const QString& integer)
{
    return QStringLiteral(
               "CREATE TABLE report_history (\n"
               "    seq %1,\n"
               "    action text NOT NULL,\n"
               "    at text NOT NULL,\n"
               "    who text NOT NULL,\n"
               "    host text NOT NULL,\n"
               "    report_id %2 NOT NULL,\n"
               "    number text,\n"
               "    before text,\n"
               "    after text,\n"
               "    restores %2,\n"
               "    hash text NOT NULL\n"
               ");\n"
               "CREATE TABLE access_log (\n"
               "    seq %1,\n"
               "    at text,\n"
               "    who text,\n"
               "    host text,\n"
               "    event text NOT NULL,\n"
               "    report_id %2,\n"
               "    number text,\n"
               "    detail text,\n"
               "    hash text\n"
               ");\n"
               "CREATE TABLE korvela_chain (name text PRIMARY KEY, seq %2 NOT NULL, hash text)")
        .arg(id, integer);
}

// The two tables, the chains' heads and the indexes, for the engine of `sql`.
std::vector<QString> tablesAndIndexes(const ReportSql& sql, const QString& id, const QString& integer)
{
    std::vector<QString> statements;
    for (const QString& s : tables(id, integer).split(QStringLiteral(";\n")))
        statements.push_back(s);
    statements.push_back(QStringLiteral(
        "INSERT INTO korvela_chain (name, seq, hash) VALUES ('report_history', 0, NULL), ('access_log', 0, NULL)"));
    // A report's versions, a number's changes (trimmed, Latin case folded as the save compares
    // it), a person's changes, and a period, each newest first from its index.
    const QString number = sql.numberKey(QStringLiteral("number"));
    statements.push_back(QStringLiteral("CREATE INDEX report_history_report ON report_history (report_id, seq)"));
    statements.push_back(QStringLiteral("CREATE INDEX report_history_number ON report_history (%1, seq)").arg(number));
    statements.push_back(QStringLiteral("CREATE INDEX report_history_who ON report_history (who, seq)"));
    statements.push_back(QStringLiteral("CREATE INDEX report_history_at ON report_history (at)"));
    statements.push_back(QStringLiteral("CREATE INDEX access_log_number ON access_log (%1, seq)").arg(number));
    statements.push_back(QStringLiteral("CREATE INDEX access_log_who ON access_log (who, seq)"));
    return statements;
}

std::vector<QString> fileSchema()
{
    const ReportSql sql(SqlDialect::Sqlite);
    std::vector<QString> statements =
        tablesAndIndexes(sql, QStringLiteral("INTEGER PRIMARY KEY"), QStringLiteral("INTEGER"));

    // Each change of a report adds one history row in the change's own statement, chained to the
    // row before it; the chain's head moves with it.
    for (const Change& change : kChanges) {
        const QString row = change.after ? QStringLiteral("NEW") : QStringLiteral("OLD");
        statements.push_back(
            QStringLiteral(
                "CREATE TRIGGER A_history_%1 AFTER %2 ON A BEGIN\n"
                "INSERT INTO report_history (seq, action, at, who, host, report_id, number, before, after, restores, hash)\n"
                "SELECT seq, action, at, who, host, report_id, number, before, after, restores,\n"
                "       korvela_digest(prev, seq, action, at, who, host, report_id, number, before, after, restores)\n"
                "FROM (SELECT c.seq + 1 AS seq, c.hash AS prev, korvela_action('%3') AS action, %4 AS at,\n"
                "             korvela_who() AS who, korvela_host() AS host, %5.rowid AS report_id, %5.A3 AS number,\n"
                "             %6 AS before, %7 AS after, korvela_restores() AS restores\n"
                "      FROM korvela_chain c WHERE c.name = 'report_history');\n"
                "UPDATE korvela_chain SET (seq, hash) = (SELECT seq, hash FROM report_history ORDER BY seq DESC LIMIT 1)\n"
                "    WHERE name = 'report_history';\n"
                "END")
                .arg(QString::fromUtf16(change.name), QString::fromUtf16(change.event),
                     QString::fromUtf16(change.action), QString::fromUtf16(kFileNow), row,
                     change.before ? sql.valuesJson(QStringLiteral("OLD")) : QStringLiteral("NULL"),
                     change.after ? sql.valuesJson(QStringLiteral("NEW")) : QStringLiteral("NULL")));
    }
    // An access is written as its event, report and detail; the rest is filled in here, chained.
    statements.push_back(QStringLiteral(
        "CREATE TRIGGER access_log_chained AFTER INSERT ON access_log BEGIN\n"
        "UPDATE access_log SET at = u.at, who = u.who, host = u.host, number = u.number,\n"
        "       hash = korvela_digest(u.prev, NEW.seq, u.at, u.who, u.host, NEW.event, NEW.report_id, u.number, NEW.detail)\n"
        "FROM (SELECT c.hash AS prev, %1 AS at, korvela_who() AS who, korvela_host() AS host,\n"
        "             (SELECT A3 FROM A WHERE rowid = NEW.report_id) AS number\n"
        "      FROM korvela_chain c WHERE c.name = 'access_log') AS u\n"
        "WHERE access_log.seq = NEW.seq;\n"
        "UPDATE korvela_chain SET (seq, hash) = (SELECT seq, hash FROM access_log WHERE seq = NEW.seq)\n"
        "    WHERE name = 'access_log';\n"
        "END")
                             .arg(QString::fromUtf16(kFileNow)));
    statements.push_back(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion));
    return statements;
}

// The chain's hash of a row on the server, byte for byte as the program's own
// (store/history_chain.h), of the previous hash and the row's columns, each a text expression.
QString serverDigest(const QStringList& columns)
{
    QStringList parts;
    for (const QString& c : columns)
        parts << QStringLiteral("CASE WHEN %1 IS NULL THEN '-' ELSE octet_length(%1) || ':' || %1 END").arg(c);
    return QStringLiteral("encode(sha256(convert_to(%1, 'UTF8')), 'hex')").arg(parts.join(QStringLiteral(" || ")));
}

// The server's statement-level trigger function for one kind of change: the changed rows read
// from the statement's transition tables in row order, each chained to the one before while the
// chain's head row stays locked to the end of the transaction, so two saves never fork the chain
// and a save waits for the chain only at its very end.
QString serverTriggerFunction(const Change& change, const ReportSql& sql)
{
    QString rows;
    if (change.before && change.after)
        rows = QStringLiteral("SELECT n.rowid, n.a3 AS number, %1 AS before, %2 AS after "
                              "FROM old_rows o JOIN new_rows n ON n.rowid = o.rowid ORDER BY n.rowid")
                   .arg(sql.valuesJson(QStringLiteral("o")), sql.valuesJson(QStringLiteral("n")));
    else if (change.after)
        rows = QStringLiteral("SELECT n.rowid, n.a3 AS number, NULL::text AS before, %1 AS after "
                              "FROM new_rows n ORDER BY n.rowid")
                   .arg(sql.valuesJson(QStringLiteral("n")));
    else
        rows = QStringLiteral("SELECT o.rowid, o.a3 AS number, %1 AS before, NULL::text AS after "
                              "FROM old_rows o ORDER BY o.rowid")
                   .arg(sql.valuesJson(QStringLiteral("o")));
    return QStringLiteral(
               "CREATE FUNCTION korvela_a_%1() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER\n"
               "SET search_path = pg_catalog, public AS $$\n"
               "DECLARE\n"
               "    c record;\n"
               "    s bigint;\n"
               "    p text;\n"
               "    t text := korvela_now();\n"
               "    w text := session_user;\n"
               "    h text := korvela_host();\n"
               "    a text := coalesce(nullif(current_setting('korvela.action', true), ''), '%2');\n"
               "    r bigint := nullif(current_setting('korvela.restores', true), '')::bigint;\n"
               "BEGIN\n"
               "    UPDATE korvela_chain SET seq = seq WHERE name = 'report_history' RETURNING seq, hash INTO s, p;\n"
               "    FOR c IN %3 LOOP\n"
               "        s := s + 1;\n"
               "        p := %4;\n"
               "        INSERT INTO report_history (seq, action, at, who, host, report_id, number, before, after, restores, hash)\n"
               "            VALUES (s, a, t, w, h, c.rowid, c.number, c.before, c.after, r, p);\n"
               "    END LOOP;\n"
               "    UPDATE korvela_chain SET seq = s, hash = p WHERE name = 'report_history';\n"
               "    RETURN NULL;\n"
               "END $$")
        .arg(QString::fromUtf16(change.name), QString::fromUtf16(change.action), rows,
             serverDigest(QString::fromLatin1("p s::text a t w h c.rowid::text c.number c.before c.after r::text").split(u' ')));
}

// Nobody but the owner writes the history, the log or the chain's head; the staff read them and
// change the reports.
std::vector<QString> serverRights()
{
    return {QStringLiteral("REVOKE ALL ON report_history, access_log, korvela_chain, korvela_schema FROM PUBLIC"),
            QStringLiteral("REVOKE ALL ON FUNCTION korvela_log_access(text, bigint[], text) FROM PUBLIC"),
            QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON a TO korvela_staff"),
            QStringLiteral("GRANT SELECT ON report_history, access_log, korvela_schema TO korvela_staff"),
            QStringLiteral("GRANT EXECUTE ON FUNCTION korvela_log_access(text, bigint[], text) TO korvela_staff")};
}

std::vector<QString> serverSchema()
{
    const ReportSql sql(SqlDialect::Postgres);
    std::vector<QString> statements;
    // The staff's group role; a person's own role is a member of it (korvela-admin add-user).
    statements.push_back(QStringLiteral(
        "DO $$ BEGIN\n"
        "    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'korvela_staff') THEN\n"
        "        CREATE ROLE korvela_staff NOLOGIN;\n"
        "    END IF;\n"
        "EXCEPTION WHEN insufficient_privilege THEN\n"
        "    RAISE insufficient_privilege USING MESSAGE = format('建立工作人员的组角色 korvela_staff 需要 CREATEROLE 权限："
        "请在服务器上以 root 运行 runuser -u postgres -- psql -c ''ALTER ROLE %I CREATEROLE''，再重试', current_user);\n"
        "END $$"));
    statements.push_back(QStringLiteral("CREATE TABLE korvela_schema (version integer NOT NULL)"));
    statements.push_back(QStringLiteral("INSERT INTO korvela_schema (version) VALUES (%1)").arg(kSchemaVersion));
    for (QString& s : tablesAndIndexes(sql, QStringLiteral("bigint PRIMARY KEY"), QStringLiteral("bigint")))
        statements.push_back(std::move(s));

    statements.push_back(QStringLiteral(
        "CREATE FUNCTION korvela_now() RETURNS text LANGUAGE sql SET search_path = pg_catalog AS $$\n"
        "    SELECT to_char(clock_timestamp() AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')\n"
        "$$"));
    statements.push_back(QStringLiteral(
        "CREATE FUNCTION korvela_host() RETURNS text LANGUAGE sql SET search_path = pg_catalog AS $$\n"
        "    SELECT coalesce(host(inet_client_addr()), 'local')\n"
        "$$"));
    for (const Change& change : kChanges) {
        statements.push_back(serverTriggerFunction(change, sql));
        const QString transition = change.before && change.after ? QStringLiteral("OLD TABLE AS old_rows NEW TABLE AS new_rows")
                                   : change.after                 ? QStringLiteral("NEW TABLE AS new_rows")
                                                                  : QStringLiteral("OLD TABLE AS old_rows");
        statements.push_back(QStringLiteral("CREATE TRIGGER a_history_%1 AFTER %2 ON a REFERENCING %3 "
                                            "FOR EACH STATEMENT EXECUTE FUNCTION korvela_a_%1()")
                                 .arg(QString::fromUtf16(change.name), QString::fromUtf16(change.event), transition));
    }
    // An access as the server records it: who, where and when by the server, the number from the
    // report; one row per report, or one without a report for a search.
    statements.push_back(QStringLiteral(
        "CREATE FUNCTION korvela_log_access(event text, report_ids bigint[], detail text) RETURNS void\n"
        "LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, public AS $$\n"
        "DECLARE\n"
        "    id bigint;\n"
        "    num text;\n"
        "    s bigint;\n"
        "    p text;\n"
        "    t text := korvela_now();\n"
        "    w text := session_user;\n"
        "    h text := korvela_host();\n"
        "BEGIN\n"
        "    UPDATE korvela_chain SET seq = seq WHERE name = 'access_log' RETURNING seq, hash INTO s, p;\n"
        "    FOREACH id IN ARRAY coalesce(report_ids, ARRAY[NULL::bigint]) LOOP\n"
        "        num := (SELECT a3 FROM a WHERE rowid = id);\n"
        "        s := s + 1;\n"
        "        p := %1;\n"
        "        INSERT INTO access_log (seq, at, who, host, event, report_id, number, detail, hash)\n"
        "            VALUES (s, t, w, h, event, id, num, detail, p);\n"
        "    END LOOP;\n"
        "    UPDATE korvela_chain SET seq = s, hash = p WHERE name = 'access_log';\n"
        "END $$")
                             .arg(serverDigest(QString::fromLatin1("p s::text t w h event id::text num detail").split(u' '))));
    for (QString& s : serverRights())
        statements.push_back(std::move(s));
    return statements;
}

} // namespace

std::vector<QString> historySchema(SqlDialect dialect)
{
    return dialect == SqlDialect::Postgres ? serverSchema() : fileSchema();
}

std::vector<QString> historyRights(SqlDialect dialect)
{
    return dialect == SqlDialect::Postgres ? serverRights() : std::vector<QString>{};
}

} // namespace korvela
