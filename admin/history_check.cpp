#include "admin/history_check.h"

#include "records/report_sql.h"
#include "store/history_chain.h"
#include "store/history_store.h"

namespace korvela::admin {

namespace {

// Reports changed outside Korvela named one by one, up to this many; the rest counted.
constexpr int kNamedReports = 20;

std::int64_t integerOf(const Value& v)
{
    const auto* i = std::get_if<std::int64_t>(&v);
    return i ? *i : 0;
}

struct Chain
{
    const char16_t* name; // as the administrator reads it
    const char* table;
    const char* columns; // the digest's, in order, then the hash
};

constexpr Chain kHistory{u"修改记录", "report_history",
                         "seq, action, at, who, host, report_id, number, before, after, restores, hash"};
constexpr Chain kAccessLog{u"访问记录", "access_log", "seq, at, who, host, event, report_id, number, detail, hash"};

QString describe(const Chain& chain, const ChainBreak& b)
{
    const QString where = QStringLiteral("%1（%2）中 seq 为 %3 的一行")
                              .arg(QString::fromUtf16(chain.name), QString::fromLatin1(chain.table))
                              .arg(b.seq);
    switch (b.kind) {
    case ChainBreak::Kind::Inserted:
        return where + QStringLiteral("是在 Korvela 之外插入的：其后的一行仍接在它之前的一行上。");
    case ChainBreak::Kind::Removed:
        return b.previousSeq > 0
                   ? where + QStringLiteral("之前的行被删除了：它接不上 seq 为 %1 的一行，其间的行已不在。")
                                 .arg(b.previousSeq)
                   : where + QStringLiteral("之前的行被删除了：它是现存的第一行，却接在别的行之后。");
    case ChainBreak::Kind::Edited:
        break;
    }
    return where + QStringLiteral("在 Korvela 之外被改动过（或是在 Korvela 之外加入的）：它的校验值与内容不符。");
}

// The chain's head (korvela_chain: the seq and hash the next row follows) against its last row:
// rows cut off the end of a chain leave no break in it, but the head still names the last one.
void checkHead(StoreReader& store, const Chain& chain, const ChainFollower& follower, HistoryFindings& findings)
{
    const QString name = QStringLiteral("%1（%2）").arg(QString::fromUtf16(chain.name), QString::fromLatin1(chain.table));
    const Status read = store.eachRow(
        {QStringLiteral("SELECT seq, hash FROM korvela_chain WHERE name = ?1"), {QString::fromLatin1(chain.table)}},
        [&](const std::vector<Value>& head) -> Result<bool> {
            const std::int64_t seq = integerOf(head[0]);
            if (seq > follower.lastSeq())
                findings.problems << QStringLiteral("%1的最后 %2 行被删除了：链头记着 seq %3，表中最后一行是 seq %4。")
                                         .arg(name)
                                         .arg(seq - follower.lastSeq())
                                         .arg(seq)
                                         .arg(follower.lastSeq());
            else if (seq != follower.lastSeq() || valueToText(head[1]) != follower.lastHash())
                findings.problems << QStringLiteral("%1的链头（korvela_chain）与表中最后一行（seq %2）不符："
                                                    "最后一行或链头在 Korvela 之外被改动过。")
                                         .arg(name)
                                         .arg(follower.lastSeq());
            return false;
        });
    if (!read)
        findings.problems << QStringLiteral("无法读取%1的链头：%2").arg(name, read.failure().description);
}

// Follows one chain to its head; its rows counted, or a problem noted.
std::int64_t followChain(StoreReader& store, const Chain& chain, HistoryFindings& findings)
{
    ChainFollower follower;
    const Status read = store.eachRow(
        {QStringLiteral("SELECT %1 FROM %2 ORDER BY seq")
             .arg(QString::fromLatin1(chain.columns), QString::fromLatin1(chain.table)),
         {}},
        [&](const std::vector<Value>& row) -> Result<bool> { return follower.add(row); });
    if (!read) {
        findings.problems << QStringLiteral("无法读取%1：%2")
                                 .arg(QString::fromUtf16(chain.name), read.failure().description);
        return -1;
    }
    if (const std::optional<ChainBreak> broken = follower.finish())
        findings.problems << describe(chain, *broken);
    else
        checkHead(store, chain, follower, findings);
    return follower.rows();
}

// Every report against the latest version of its row id in the history: the last `after` must be
// its 27 values now. A report without any history row is one from before the history began,
// unless its row id is above the first report the history saw being made.
Statement reportsAgainstHistory(SqlDialect dialect)
{
    const ReportSql sql(dialect);
    const QString differs = dialect == SqlDialect::Postgres
                                ? QStringLiteral("t.after::jsonb <> (%1)::jsonb").arg(sql.valuesJson(QStringLiteral("A")))
                                : QStringLiteral("t.after <> %1").arg(sql.valuesJson(QStringLiteral("A")));
    return {QStringLiteral(
                "WITH latest AS (SELECT h.seq, h.report_id, h.number, h.after FROM report_history h"
                " JOIN (SELECT report_id, max(seq) AS seq FROM report_history GROUP BY report_id) l"
                " ON h.seq = l.seq) "
                "SELECT A.rowid, A.A3, t.seq, CASE WHEN t.seq IS NULL THEN 1 WHEN t.after IS NULL THEN 2 ELSE 3 END"
                " FROM A LEFT JOIN latest t ON t.report_id = A.rowid"
                " WHERE CASE WHEN t.seq IS NULL"
                " THEN A.rowid > (SELECT min(report_id) FROM report_history WHERE before IS NULL)"
                " ELSE t.after IS NULL OR %1 END "
                "UNION ALL "
                "SELECT t.report_id, t.number, t.seq, 4 FROM latest t"
                " WHERE t.after IS NOT NULL AND NOT EXISTS (SELECT 1 FROM A WHERE A.rowid = t.report_id) "
                "ORDER BY 1")
                .arg(differs),
            {}};
}

QString describeReport(const std::vector<Value>& row)
{
    const QString number = valueToText(row[1]).isEmpty() ? QStringLiteral("（无筛查编号）") : valueToText(row[1]);
    const QString report = QStringLiteral("报告 %1（行号 %2）").arg(number).arg(integerOf(row[0]));
    switch (integerOf(row[3])) {
    case 1:
        return report + QStringLiteral("是在 Korvela 之外加入的：修改记录中没有它。");
    case 2:
        return report + QStringLiteral("仍在报告数据表中，修改记录却说它已被删除（seq %1）。").arg(integerOf(row[2]));
    case 3:
        return report + QStringLiteral("在 Korvela 之外被改动过：与修改记录中它的最新版本（seq %1）不同。")
                            .arg(integerOf(row[2]));
    default:
        return report + QStringLiteral("在 Korvela 之外被删除了：修改记录中它仍然存在（seq %1）。")
                            .arg(integerOf(row[2]));
    }
}

void compareReports(StoreReader& store, HistoryFindings& findings)
{
    int found = 0;
    const Status read =
        store.eachRow(reportsAgainstHistory(store.dialect()), [&](const std::vector<Value>& row) -> Result<bool> {
            if (++found <= kNamedReports)
                findings.problems << describeReport(row);
            return true;
        });
    if (!read)
        findings.problems << QStringLiteral("无法核对报告与修改记录：%1").arg(read.failure().description);
    else if (found > kNamedReports)
        findings.problems << QStringLiteral("另有 %1 份报告在 Korvela 之外被改动、加入或删除（以上只列出前 %2 份）。")
                                 .arg(found - kNamedReports)
                                 .arg(kNamedReports);
}

// The server keeps who changed a report by its login role: a role several workstations share
// makes the history say nothing about which person it was.
void checkRolesApart(StoreReader& store, HistoryFindings& findings)
{
    const auto each = [&](const QString& sql, const auto& warn) {
        const Status read = store.eachRow({sql, {}}, [&](const std::vector<Value>& row) -> Result<bool> {
            findings.warnings << QStringLiteral("无法区分修改人：") + warn(row);
            return true;
        });
        if (!read)
            findings.warnings << QStringLiteral("无法核对各工作站所用的角色：%1").arg(read.failure().description);
    };
    each(QStringLiteral("SELECT count(*) FROM pg_auth_members m JOIN pg_roles r ON r.oid = m.member"
                        " WHERE m.roleid = (SELECT oid FROM pg_roles WHERE rolname = '%1') AND r.rolcanlogin"
                        " AND r.oid <> (SELECT datdba FROM pg_database WHERE datname = current_database())"
                        " HAVING count(*) = 0")
             .arg(QString::fromLatin1(kStaffRole)),
         [](const std::vector<Value>&) {
             return QStringLiteral("除数据库所有者外，没有哪个登录角色属于组角色 %1，各工作站都以同一个角色连接。"
                                   "请用 korvela-admin add-user 为每个人建立自己的角色。")
                 .arg(QString::fromLatin1(kStaffRole));
         });
    // Places a unix socket on the server itself ("local") leaves out: the administrator's own
    // commands run there.
    each(QStringLiteral("SELECT who, count(DISTINCT host) FROM (SELECT who, host FROM report_history"
                        " UNION ALL SELECT who, host FROM access_log) h WHERE host <> 'local'"
                        " GROUP BY who HAVING count(DISTINCT host) > 1 ORDER BY who"),
         [](const std::vector<Value>& row) {
             return QStringLiteral("修改与访问记录中，角色 %1 来自 %2 个不同的工作站地址。请为每个人建立自己的角色"
                                   "（korvela-admin add-user）。")
                 .arg(valueToText(row[0]))
                 .arg(integerOf(row[1]));
         });
    each(QStringLiteral("SELECT usename, count(DISTINCT client_addr) FROM pg_stat_activity"
                        " WHERE datname = current_database() AND client_addr IS NOT NULL"
                        " GROUP BY usename HAVING count(DISTINCT client_addr) > 1 ORDER BY usename"),
         [](const std::vector<Value>& row) {
             return QStringLiteral("现在有 %2 个不同地址的工作站以同一个角色 %1 连接着报告数据库。")
                 .arg(valueToText(row[0]))
                 .arg(integerOf(row[1]));
         });
}

} // namespace

// The digest of the row's columns before its stored hash, following `previous`, as chainDigest()
// makes it; texts go in as their UTF-8 at once, for this runs twice for many of a million rows.
bool ChainFollower::fits(const QString& previous, const std::vector<Value>& row) const
{
    const auto addText = [this](const QString& text) {
        const QByteArray utf8 = text.toUtf8();
        m_digest.addText({utf8.constData(), std::size_t(utf8.size())});
    };
    if (previous.isNull())
        m_digest.addNull();
    else
        addText(previous);
    for (std::size_t c = 0; c + 1 < row.size(); ++c) {
        if (const auto* text = std::get_if<QString>(&row[c]))
            addText(*text);
        else
            m_digest.add(row[c]);
    }
    return m_digest.hex() == valueToText(row.back());
}

bool ChainFollower::add(const std::vector<Value>& row)
{
    if (m_break)
        return false;
    if (m_suspect) {
        m_break = judge(&row);
        return false;
    }
    ++m_rows;
    if (fits(m_previousHash, row)) {
        m_beforePreviousHash = std::exchange(m_previousHash, valueToText(row.back()));
        m_previousSeq = integerOf(row.front());
        return true;
    }
    // The row before it fitted, but this one follows the row before that: that row was put in.
    if (m_rows > 1 && fits(m_beforePreviousHash, row)) {
        m_break = ChainBreak{ChainBreak::Kind::Inserted, m_previousSeq, 0};
        return false;
    }
    m_suspect = row;
    return true;
}

std::optional<ChainBreak> ChainFollower::finish()
{
    if (m_suspect && !m_break)
        m_break = judge(nullptr);
    return m_break;
}

std::optional<ChainBreak> ChainFollower::judge(const std::vector<Value>* next) const
{
    const std::int64_t seq = integerOf(m_suspect->front());
    if (next && fits(m_previousHash, *next))
        return ChainBreak{ChainBreak::Kind::Inserted, seq, m_previousSeq};
    // Seqs are given in order, one more each time; a gap before a row that does not fit is where
    // rows were taken out.
    if (seq > m_previousSeq + 1)
        return ChainBreak{ChainBreak::Kind::Removed, seq, m_previousSeq};
    return ChainBreak{ChainBreak::Kind::Edited, seq, m_previousSeq};
}

HistoryFindings checkHistory(StoreReader& store)
{
    HistoryFindings findings;
    findings.historyRows = followChain(store, kHistory, findings);
    findings.accessRows = followChain(store, kAccessLog, findings);
    compareReports(store, findings);
    if (store.dialect() == SqlDialect::Postgres)
        checkRolesApart(store, findings);
    return findings;
}

} // namespace korvela::admin
