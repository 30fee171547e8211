#include "admin/history_commands.h"

#include "admin/store_commands.h"
#include "records/report_sql.h"
#include "store/history_store.h"
#include "store/store_choice.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace korvela::admin {

namespace {

// The one argument a subcommand takes (`what` names it in the refusal), and its one option.
Result<Options> parseOneArgument(const QStringList& arguments, const QString& command, const QString& what,
                                 const QString& option, bool Options::*flag)
{
    Options options;
    bool named = false;
    for (const QString& a : arguments) {
        if (isHelp(a))
            return helpAsked();
        if (flag && a == option)
            options.*flag = true;
        else if (a.startsWith(u'-') && a.size() > 1)
            return usageError(QStringLiteral("未知选项：%1").arg(a));
        else if (named)
            return usageError(QStringLiteral("多余的参数：%1").arg(a));
        else {
            options.argument = a;
            named = true;
        }
    }
    if (!named)
        return usageError(QStringLiteral("%1 需要一个%2。").arg(command, what));
    return options;
}

Result<std::unique_ptr<StoreReader>> readConfiguredStore(const QString& programFolder)
{
    const Result<StoreChoice> choice = chooseStore(programFolder);
    if (!choice)
        return choice.failure();
    return choice->kind == StoreChoice::Kind::Server ? readServer(serviceConnection()) : readFile(choice->file);
}

// A text as one field of a tab-separated line.
QString field(const QString& text)
{
    QString out = text;
    out.replace(u'\t', u' ').replace(u'\n', u' ').replace(u'\r', u' ');
    return out;
}

// The 27 values of a history row's JSON array; all null for none.
QJsonArray valuesOf(const Value& json)
{
    const QJsonArray values = QJsonDocument::fromJson(valueToText(json).toUtf8()).array();
    return values.isEmpty() ? QJsonArray() : values;
}

// A version's value of a column; an empty text is no value, as a missing version has none.
QJsonValue valueAt(const QJsonArray& values, qsizetype i)
{
    const QJsonValue v = i < values.size() ? values[i] : QJsonValue(QJsonValue::Null);
    return v == QJsonValue(QString()) ? QJsonValue(QJsonValue::Null) : v;
}

// The columns whose values differ between two versions ("A1", "A13"): of a new or deleted report,
// those with a value.
QStringList changedColumns(const QJsonArray& before, const QJsonArray& after)
{
    QStringList changed;
    for (const FieldInfo& f : reportFields()) {
        const qsizetype i = qsizetype(index(f.id));
        if (valueAt(before, i) != valueAt(after, i))
            changed << QString::fromLatin1(f.column);
    }
    return changed;
}

QString localTime(const QString& utc)
{
    const QDateTime at = QDateTime::fromString(utc, Qt::ISODateWithMs);
    return at.isValid() ? at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

// One change of a report, as the history holds it.
struct Version
{
    std::int64_t seq;
    QString at, action, who, host;
    std::int64_t reportId;
    QString number;
    QJsonArray before, after;
    Value restores;
    bool created, removed;
};

std::int64_t integerOf(const Value& v)
{
    const auto* i = std::get_if<std::int64_t>(&v);
    return i ? *i : 0;
}

Version versionOf(const std::vector<Value>& row)
{
    return {integerOf(row[0]), valueToText(row[2]), valueToText(row[1]), valueToText(row[3]),
            valueToText(row[4]), integerOf(row[5]),  valueToText(row[6]), valuesOf(row[7]),
            valuesOf(row[8]),    row[9],             isNull(row[7]),      isNull(row[8])};
}

QJsonObject jsonOf(const Version& v)
{
    QJsonObject o;
    o[u"seq"] = qint64(v.seq);
    o[u"at"] = v.at;
    o[u"local"] = localTime(v.at);
    o[u"action"] = v.action;
    o[u"who"] = v.who;
    o[u"host"] = v.host;
    o[u"report_id"] = qint64(v.reportId);
    o[u"number"] = v.number;
    o[u"changed"] = QJsonArray::fromStringList(changedColumns(v.before, v.after));
    o[u"before"] = v.created ? QJsonValue(QJsonValue::Null) : QJsonValue(v.before);
    o[u"after"] = v.removed ? QJsonValue(QJsonValue::Null) : QJsonValue(v.after);
    o[u"restores"] = isNull(v.restores) ? QJsonValue(QJsonValue::Null) : QJsonValue(qint64(integerOf(v.restores)));
    return o;
}

QString lineOf(const Version& v)
{
    return QStringList{QString::number(v.seq), field(v.at), localTime(v.at), field(v.action), field(v.who),
                       field(v.host), QString::number(v.reportId),
                       changedColumns(v.before, v.after).join(u',')}
        .join(u'\t');
}

// What add-user and remove-user refuse before asking the server: a name that cannot be a person's
// role, and a store that is the file, whose persons are the workstation's Linux users. The exit
// status when refused.
std::optional<int> refuseRole(const QString& name, const QString& programFolder, std::FILE* err)
{
    if (const std::optional<QString> bad = badRoleName(name)) {
        print(err, QStringLiteral("错误：%1\n运行 korvela-admin --help 查看用法。").arg(*bad));
        return kExitUsage;
    }
    if (Status s = requireService(programFolder,
                                  QStringLiteral("报告保存在本机的文件 %1 中：修改记录以这台计算机的 Linux 用户名记下"
                                                 "修改人，每个人用自己的 Linux 帐户登录这台计算机即可，不需要建立角色。"
                                                 "add-user 和 remove-user 只用于报告服务器。"));
        !s)
        return failed(err, s.failure());
    return std::nullopt;
}

// A password of 20 characters from letters and digits that are not read one for another.
QString randomPassword()
{
    static const QString alphabet = QStringLiteral("ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789");
    QString password;
    for (int i = 0; i < 20; ++i)
        password += alphabet[QRandomGenerator::system()->bounded(int(alphabet.size()))];
    return password;
}

} // namespace

std::optional<QString> badRoleName(const QString& name)
{
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z_][A-Za-z0-9_.-]*$"));
    static const QStringList reserved{QStringLiteral("public"),       QStringLiteral("none"),
                                      QStringLiteral("current_user"), QStringLiteral("session_user"),
                                      QStringLiteral("current_role"), QString::fromLatin1(kStaffRole)};
    if (!allowed.match(name).hasMatch())
        return QStringLiteral("角色名“%1”不可用：只能由英文字母、数字、“_”、“.”和“-”组成，并以字母或“_”开头"
                              "（通常就是这个人在工作站上的 Linux 用户名）。")
            .arg(name);
    if (name.size() > 63)
        return QStringLiteral("角色名“%1”太长：最多 63 个字符。").arg(name);
    if (name.startsWith(u"pg_", Qt::CaseInsensitive) || reserved.contains(name, Qt::CaseInsensitive))
        return QStringLiteral("角色名“%1”是服务器或 Korvela 自己使用的名字，请换一个。").arg(name);
    return std::nullopt;
}

Result<Options> parseHistory(const QStringList& arguments)
{
    return parseOneArgument(arguments, QStringLiteral("history"), QStringLiteral("筛查编号"),
                            QStringLiteral("--json"), &Options::json);
}

Result<Options> parseAddUser(const QStringList& arguments)
{
    return parseOneArgument(arguments, QStringLiteral("add-user"), QStringLiteral("角色名"),
                            QStringLiteral("--password"), &Options::password);
}

Result<Options> parseRemoveUser(const QStringList& arguments)
{
    return parseOneArgument(arguments, QStringLiteral("remove-user"), QStringLiteral("角色名"), {}, nullptr);
}

int runHistory(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err)
{
    Result<std::unique_ptr<StoreReader>> store = readConfiguredStore(programFolder);
    if (!store)
        return failed(err, store.failure());
    std::vector<Version> versions;
    const Status read = (*store)->eachRow(
        ReportSql((*store)->dialect()).historyOfNumber(options.argument),
        [&](const std::vector<Value>& row) -> Result<bool> {
            versions.push_back(versionOf(row));
            return true;
        });
    if (!read)
        return failed(err, read.failure());
    if (versions.empty()) {
        print(err, QStringLiteral("修改记录中没有筛查编号为 %1 的报告。").arg(options.argument));
        return kExitFailed;
    }
    if (options.json) {
        QJsonArray all;
        for (const Version& v : versions)
            all.append(jsonOf(v));
        print(out, QString::fromUtf8(QJsonDocument(all).toJson(QJsonDocument::Indented)).trimmed());
        return 0;
    }
    print(out, QStringLiteral("seq\t时间（UTC）\t时间（本地）\t操作\t修改人\t工作站\t行号\t改动的栏目"));
    for (const Version& v : versions)
        print(out, lineOf(v));
    return 0;
}

int runAddUser(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err)
{
    if (const std::optional<int> refused = refuseRole(options.argument, programFolder, err))
        return *refused;
    const std::optional<QString> password = options.password ? std::optional(randomPassword()) : std::nullopt;
    if (Status s = createStaffRole(serviceConnection(), options.argument, password); !s)
        return failed(err, s.failure());
    print(out, QStringLiteral("已在报告服务器上建立登录角色 %1，属于组角色 %2。")
                   .arg(options.argument, QString::fromLatin1(kStaffRole)));
    if (password)
        print(out, QStringLiteral("密码（只显示这一次，请交给本人写进其 ~/.pgpass）：%1").arg(*password));
    else
        print(out, QStringLiteral("没有设密码：这个人以 peer、证书或 Kerberos 登录（见 pg_hba.conf）。"));
    print(out, QStringLiteral("pg_hba.conf 中允许工作人员登录的一行，例如："
                              "hostssl korvela +%1 192.168.10.0/24 scram-sha-256")
                   .arg(QString::fromLatin1(kStaffRole)));
    return 0;
}

int runRemoveUser(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err)
{
    if (const std::optional<int> refused = refuseRole(options.argument, programFolder, err))
        return *refused;
    if (Status s = dropStaffRole(serviceConnection(), options.argument); !s)
        return failed(err, s.failure());
    print(out, QStringLiteral("已删除登录角色 %1；修改与访问记录中以它记下的行保持不变。").arg(options.argument));
    return 0;
}

} // namespace korvela::admin
