#include "admin/legacy_import.h"

#include "core/failure_codes.h"
#include "legacy/legacy_process.h"
#include "records/report_fields.h"
#include "records/report_record.h"
#include "records/report_sql.h"
#include "store/admin_store.h"
#include "store/report_checksum.h"
#include "store/store_choice.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <unordered_map>

namespace korvela::admin {

namespace {

constexpr int kPage = 5000;           // stored reports read at a time
constexpr std::int64_t kProgressStep = 256;

// Two reports are the same report exactly when their canonical texts (report_checksum.h) are
// equal: their digests stand for them.
struct DigestHash
{
    std::size_t operator()(const ReportDigest& d) const { return std::size_t(d.first); }
};

void addText(CanonicalRow& canonical, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    canonical.addText({utf8.constData(), std::size_t(utf8.size())});
}

// A value as the program shows it, in the form the import stores: texts as they are, the date as
// its day, an option as 1 or 0.
void addShown(CanonicalRow& canonical, FieldKind kind, const Value& value)
{
    switch (kind) {
    case FieldKind::Text:
    case FieldKind::List:
        if (isNull(value))
            canonical.addNull();
        else
            addText(canonical, valueToText(value));
        return;
    case FieldKind::Date:
        if (isNull(value))
            canonical.addNull();
        else if (const std::optional<QDate> day = dateFromValue(value))
            addText(canonical, day->toString(u"yyyy-MM-dd"));
        else
            addText(canonical, u"?" + valueToText(value)); // no day the import ever stores
        return;
    case FieldKind::Option:
        canonical.addInteger(isChecked(value) ? 1 : 0);
        return;
    }
}

QString columnList()
{
    QStringList columns;
    for (const FieldInfo& field : reportFields())
        columns << QString::fromLatin1(field.column);
    return columns.join(u", ");
}

Result<std::int64_t> lastRowid(ReportDatabase& db)
{
    std::unique_ptr<ResultSet> rows = db.createResultSet();
    if (Status s = rows->open({QStringLiteral("SELECT coalesce(max(rowid), 0) AS last FROM A"), {}}); !s)
        return s.failure();
    Result<Value> last = rows->field(QStringLiteral("last"));
    if (!last)
        return last.failure();
    const auto* i = std::get_if<std::int64_t>(&*last);
    return i ? *i : std::int64_t(0);
}

// Calls `each` with every stored report after `afterRowid`, in rowid order, a page at a time (a
// store of any size is read in little memory).
template <typename Each>
Status eachStored(ReportDatabase& db, std::int64_t afterRowid, Each each)
{
    std::unique_ptr<ResultSet> rows = db.createResultSet();
    const QString sql =
        QStringLiteral("SELECT rowid, %1 FROM A WHERE rowid > ?1 ORDER BY rowid LIMIT %2").arg(columnList()).arg(kPage);
    std::vector<QString> names;
    for (const FieldInfo& field : reportFields())
        names.push_back(fieldColumn(field.id));
    std::array<Value, kFieldCount> values;
    for (std::int64_t after = afterRowid;;) {
        if (Status s = rows->open({sql, {after}}); !s)
            return s;
        if (rows->recordCount() == 0)
            return {};
        for (; rows->hasCurrentRow(); (void)rows->moveNext()) {
            Result<Value> rowid = rows->field(QStringLiteral("rowid"));
            if (!rowid)
                return rowid.failure();
            after = std::get_if<std::int64_t>(&*rowid) ? std::get<std::int64_t>(*rowid) : after;
            for (std::size_t c = 0; c < kFieldCount; ++c) {
                Result<Value> v = rows->field(names[c]);
                if (!v)
                    return v.failure();
                values[c] = std::move(*v);
            }
            each(values);
        }
        if (rows->recordCount() < kPage)
            return {};
    }
}

// The program folder's Data/Data.Dat is the old program's Jet file (copied over Korvela's own
// report database by mistake).
bool storeIsJetFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    static constexpr char jet[] = "\x00\x01\x00\x00Standard Jet DB";
    const QByteArray head = file.read(sizeof jet - 1);
    return head == QByteArrayView(jet, sizeof jet - 1);
}

QString shown(const Value& value)
{
    if (isNull(value))
        return QStringLiteral("（无）");
    QString text = valueToText(value);
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control)
            c = QChar(u' ');
    return text.size() > 40 ? text.left(40) + u'…' : text;
}

// Ends the import's transaction unless it was committed.
struct Rollback
{
    ReportDatabase* db = nullptr;
    ~Rollback()
    {
        if (db && db->inTransaction())
            (void)db->rollback();
    }
};

} // namespace

Result<ImportSummary> importLegacy(const ImportOptions& options, const ImportProgress& progress)
{
    QElapsedTimer clock;
    clock.start();
    const QString file = QDir::cleanPath(QFileInfo(options.file).absoluteFilePath());
    ImportSummary summary;

    const Result<StoreChoice> choice = chooseStore(options.programFolder);
    if (!choice)
        return choice.failure();
    if (choice->kind == StoreChoice::Kind::File && storeIsJetFile(choice->file))
        return Failure{
            FailureCode::StoreIsLegacyFile,
            QStringLiteral(
                "程序文件夹中的 %1 是旧程序的数据库，而不是 Korvela 的报告数据库（旧程序的文件也叫 "
                "Data.Dat）。请把它移到别处（例如 ~/旧程序/Data.Dat），重新运行 Korvela 的安装"
                "（bash scripts/setup.sh，或 sudo dpkg-reconfigure korvela）建立空的报告数据库，"
                "再运行 korvela-admin import-legacy ~/旧程序/Data.Dat。")
                .arg(choice->file)};

    Result<std::unique_ptr<AdminStore>> opened = openAdminStore(
        *choice, options.lockTimeout, options.check ? StoreAccess::ReadOnly : StoreAccess::ReadWrite);
    if (!opened)
        return Failure{opened.failure().code, QStringLiteral("无法打开 Korvela 的报告数据库 %1：%2")
                                                  .arg(choice->description(), opened.failure().description)};
    AdminStore& store = **opened;
    ReportDatabase& db = store.reports();
    summary.store = store.name();

    // The file is open and its table sound before the store is touched.
    legacy::LegacyProcess reader;
    if (Status s = reader.start(options.reader, file, options.codePage, options.readerTimeout); !s)
        return s.failure();
    summary.jetVersion = reader.jetVersion();
    const std::int64_t total = reader.declaredCount();

    // Other writers wait until the commit, so the reports the store holds are the ones compared
    // and the rows after the last rowid are exactly the ones added.
    Rollback rollback;
    if (!options.check) {
        if (Status s = db.begin(); !s)
            return s.failure();
        rollback.db = &db;
        // The history names the command that added the reports.
        if (Status s = db.execute(ReportSql(db.dialect()).changeContext(QStringLiteral("import-legacy"), std::nullopt));
            !s)
            return s.failure();
        if (Status s = store.keepOtherWritersOut(); !s)
            return reportTableWait(s.failure(), serviceConnection(), options.lockTimeout);
    }
    Result<std::int64_t> last = lastRowid(db);
    if (!last)
        return last.failure();

    // How many times each report is in the store and not yet matched by one of the file.
    std::unordered_map<ReportDigest, std::int64_t, DigestHash> stored;
    CanonicalRow canonical;
    const auto fields = reportFields();
    if (Status s = eachStored(db, 0,
                              [&](const std::array<Value, kFieldCount>& values) {
                                  canonical.clear();
                                  for (std::size_t c = 0; c < kFieldCount; ++c)
                                      addShown(canonical, fields[c].kind, values[c]);
                                  ++stored[canonical.digest()];
                              });
        !s)
        return s.failure();

    Checksum added;
    legacy::LegacyReport report;
    for (;;) {
        Result<bool> next = reader.next(report);
        if (!next)
            return next.failure();
        if (!*next)
            break;
        ++summary.read;
        if (report.values.size() != kFieldCount)
            return Failure{FailureCode::LegacyReaderFailed,
                           QStringLiteral("读取旧数据库 %1 的进程给出了 %2 项值而不是 27 项，未导入任何报告。")
                               .arg(file)
                               .arg(report.values.size())};
        if (!report.problem.isEmpty()) {
            summary.refused.push_back({report.ordinal, shown(report.values[index(Field::ScreeningNumber)]),
                                       shown(report.values[index(Field::PatientName)]), report.problem});
        } else {
            // The values are as the program shows them already: their text is the canonical one.
            canonical.clear();
            for (std::size_t c = 0; c < kFieldCount; ++c) {
                const Value& v = report.values[c];
                if (const auto* t = std::get_if<QString>(&v)) {
                    addText(canonical, *t);
                } else if (const auto* i = std::get_if<std::int64_t>(&v)) {
                    canonical.addInteger(*i);
                } else {
                    canonical.addNull();
                }
            }
            const ReportDigest digest = canonical.digest();
            const auto match = stored.find(digest);
            if (match != stored.end() && match->second > 0) {
                --match->second;
                ++summary.present;
            } else {
                if (!options.check) {
                    if (Status s = store.addReport(report.values); !s)
                        return Failure{s.failure().code,
                                       QStringLiteral("第 %1 份报告（筛查编号 %2）无法写入，已全部撤销，未导入任何报告：%3")
                                           .arg(QString::number(report.ordinal),
                                                shown(report.values[index(Field::ScreeningNumber)]),
                                                s.failure().description)};
                }
                ++summary.added;
                added.add(digest);
            }
        }
        if (progress && summary.read % kProgressStep == 0)
            progress(summary.read, total);
    }
    if (progress)
        progress(summary.read, total);

    if (!options.check) {
        Result<Checksum> inStore = store.reportChecksum(*last);
        if (!inStore)
            return inStore.failure();
        if (!(*inStore == added))
            return Failure{FailureCode::ImportMismatch,
                           QStringLiteral("导入后核对不一致，已全部撤销，报告数据库未作改动。应新增 %1 份报告（校验和 "
                                          "%2），数据库中新增的是 %3 份（校验和 %4）。")
                               .arg(QString::number(added.count), added.text(), QString::number(inStore->count),
                                    inStore->text())};
        if (Status s = db.commit(); !s)
            return s.failure();
        // The planner's figures and the visibility map brought up to date at once rather than at
        // the next autovacuum, as after move-to-server: the program's first search counts through
        // an index then. The reports are in whatever comes of this.
        if (summary.added > 0)
            store.refreshStatistics();
    }
    summary.seconds = double(clock.nsecsElapsed()) / 1e9;
    return summary;
}

} // namespace korvela::admin
