#include "legacy/legacy_reader.h"

#include "core/failure_codes.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <mdbtools.h>
#include <optional>
#include <vector>

namespace korvela::legacy {

namespace {

// Row offsets on a data page: the low 13 bits, a deleted row's flag, a moved row's flag (its place
// then holds where it went).
constexpr unsigned kOffsetMask = 0x1FFF;
constexpr unsigned kDeletedRow = 0x8000;
constexpr unsigned kMovedRow = 0x4000;
// A memo's 12-byte header: its length in the low 30 bits, and where its bytes are.
constexpr std::uint32_t kMemoInline = 0x80000000u;
constexpr std::uint32_t kMemoOnePage = 0x40000000u;
constexpr std::uint32_t kMemoLengthMask = 0x3FFFFFFFu;
// No report's text comes near this; a larger length is a damaged header.
constexpr std::uint32_t kMemoLimit = 256u << 20;
// The owner of the pages that hold long values.
constexpr std::uint32_t kLongValuePages = 0x4C41564C; // "LVAL"

std::uint32_t le32(const unsigned char* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

QString typeName(int type)
{
    switch (type) {
    case MDB_BOOL:
        return QStringLiteral("是/否");
    case MDB_BYTE:
        return QStringLiteral("字节");
    case MDB_INT:
        return QStringLiteral("整型");
    case MDB_LONGINT:
        return QStringLiteral("长整型");
    case MDB_MONEY:
        return QStringLiteral("货币");
    case MDB_FLOAT:
        return QStringLiteral("单精度型");
    case MDB_DOUBLE:
        return QStringLiteral("双精度型");
    case MDB_DATETIME:
        return QStringLiteral("日期/时间");
    case MDB_BINARY:
        return QStringLiteral("二进制");
    case MDB_TEXT:
        return QStringLiteral("文本");
    case MDB_OLE:
        return QStringLiteral("OLE 对象");
    case MDB_MEMO:
        return QStringLiteral("备注");
    case MDB_REPID:
        return QStringLiteral("同步复制 ID");
    case MDB_NUMERIC:
        return QStringLiteral("小数");
    default:
        return QStringLiteral("未知类型 %1").arg(type);
    }
}

// Which Jet types hold a field's value as the old program stored it.
bool typeFits(FieldKind kind, int type)
{
    switch (kind) {
    case FieldKind::Text:
    case FieldKind::List:
        return type == MDB_TEXT || type == MDB_MEMO;
    case FieldKind::Date:
        return type == MDB_DATETIME;
    case FieldKind::Option:
        return type == MDB_BYTE || type == MDB_INT || type == MDB_LONGINT || type == MDB_FLOAT ||
               type == MDB_DOUBLE || type == MDB_TEXT || type == MDB_MEMO;
    }
    return false;
}

} // namespace

const LegacyLayout& reportLayout()
{
    static const LegacyLayout layout = [] {
        LegacyLayout l{QStringLiteral("A"), QStringLiteral("报告数据表 A"), {}};
        for (const FieldInfo& field : reportFields())
            l.columns.push_back({QString::fromLatin1(field.column), field.kind,
                                 QStringLiteral("“%1”（%2）")
                                     .arg(QString::fromUtf16(field.label), QString::fromLatin1(field.column))});
        return l;
    }();
    return layout;
}

struct LegacyReader::State
{
    ~State()
    {
        if (table)
            mdb_free_tabledef(table);
        if (mdb)
            mdb_close(mdb);
    }

    explicit State(const LegacyLayout& l)
        : layout(l)
        , columnOf(l.columns.size())
    {
    }

    const LegacyLayout& layout;
    QString name;
    MdbHandle* mdb = nullptr;
    MdbTableDef* table = nullptr;
    int version = 4;
    std::optional<CodePage> codePage;
    std::vector<int> columnOf; // the column of the table holding each value
    std::vector<MdbField> fields;
    std::int64_t declared = 0;
    std::int64_t read = 0;
    bool pageLoaded = false;
    bool finished = false;
    guint32 page = 0; // the data page being read
    int rowsOnPage = 0;
    int nextRow = 0;

    Failure damaged(const QString& what) const
    {
        return {FailureCode::LegacyDamaged,
                QStringLiteral("旧数据库 %1 已损坏（%2），未导入任何报告。请在旧电脑上用 Access 的“压缩和修复数据库”"
                               "修复后重新复制，或换一份完好的备份。")
                    .arg(name, what)};
    }

    // A text's bytes as the old program showed them.
    std::optional<QString> text(const unsigned char* data, std::size_t size)
    {
        if (version == 3)
            return codePage->decode(data, size);
        return jet4Text(data, size);
    }

    // The bytes of a memo whose 12-byte header is at `start` of the current page.
    Result<std::vector<unsigned char>> memo(int start, int size)
    {
        if (size < MDB_MEMO_OVERHEAD)
            return damaged(QStringLiteral("备注的长度信息不完整"));
        const unsigned char* header = mdb->pg_buf + start;
        const std::uint32_t word = le32(header);
        const std::uint32_t length = word & kMemoLengthMask;
        if (length > kMemoLimit)
            return damaged(QStringLiteral("备注长度 %1 字节不可能").arg(length));
        if ((word & ~kMemoLengthMask) == kMemoInline) {
            if (length > std::uint32_t(size - MDB_MEMO_OVERHEAD))
                return damaged(QStringLiteral("行内备注比所在的行还长"));
            return std::vector<unsigned char>(header + MDB_MEMO_OVERHEAD, header + MDB_MEMO_OVERHEAD + length);
        }
        std::uint32_t where = le32(header + 4);
        std::vector<unsigned char> bytes;
        bytes.reserve(std::min<std::uint32_t>(length, 1u << 20)); // a damaged length reserves no more
        const bool onePage = (word & ~kMemoLengthMask) == kMemoOnePage;
        if (!onePage && (word & ~kMemoLengthMask) != 0)
            return damaged(QStringLiteral("备注的存放方式未知"));
        // Each piece adds at least a byte, so a chain that loops ends at the length.
        while (bytes.size() < length) {
            if (where >> 8 == 0)
                return damaged(QStringLiteral("备注不完整"));
            void* buffer = nullptr;
            int offset = 0;
            size_t rowSize = 0;
            if (mdb_find_pg_row(mdb, int(where), &buffer, &offset, &rowSize) != 0)
                return damaged(QStringLiteral("备注所在的第 %1 页无法读取").arg(where >> 8));
            const auto* pageBytes = static_cast<const unsigned char*>(buffer);
            if (pageBytes[0] != MDB_PAGE_DATA || le32(pageBytes + 4) != kLongValuePages)
                return damaged(QStringLiteral("第 %1 页不是备注页").arg(where >> 8));
            const unsigned char* row = pageBytes + offset;
            if (onePage) {
                if (rowSize < length)
                    return damaged(QStringLiteral("备注比存放它的行还长"));
                bytes.assign(row, row + length);
                break;
            }
            if (rowSize <= 4)
                return damaged(QStringLiteral("备注的一段是空的"));
            where = le32(row);
            const std::size_t piece = std::min<std::size_t>(rowSize - 4, length - bytes.size());
            bytes.insert(bytes.end(), row + 4, row + 4 + piece);
        }
        return bytes;
    }

    // Fills `report` from the row at `start` of the current page.
    Status crack(int start, std::size_t size, LegacyReport& report)
    {
        if (mdb_crack_row(table, start, size, fields.data()) < 0)
            return damaged(QStringLiteral("第 %1 页上的一行结构无效").arg(page));
        QStringList problems;
        report.values.assign(layout.columns.size(), Value{});
        for (std::size_t f = 0; f < layout.columns.size(); ++f) {
            const MdbField& field = fields[std::size_t(columnOf[f])];
            const auto* column = static_cast<const MdbColumn*>(g_ptr_array_index(table->columns, columnOf[f]));
            const FieldKind kind = layout.columns[f].kind;
            Value& value = report.values[f];
            value = std::monostate{};
            if (field.is_null) {
                if (kind == FieldKind::Option)
                    value = std::int64_t(0);
                continue;
            }
            // libmdb checks only that a value ends within its row; a damaged offset table can
            // still give one that starts before it or has a negative length.
            if (field.siz < 0 || field.start < start || std::size_t(field.start) + std::size_t(field.siz) >
                                                             std::size_t(start) + size)
                return damaged(QStringLiteral("第 %1 页上一行中值的位置无效").arg(page));
            const unsigned char* data = mdb->pg_buf + field.start;
            const auto size_ = std::size_t(field.siz);
            if (column->col_type == MDB_TEXT || column->col_type == MDB_MEMO) {
                std::optional<QString> decoded;
                if (column->col_type == MDB_MEMO) {
                    Result<std::vector<unsigned char>> bytes = memo(field.start, field.siz);
                    if (!bytes)
                        return bytes.failure();
                    decoded = text(bytes->data(), bytes->size());
                } else {
                    decoded = text(data, size_);
                }
                if (!decoded) {
                    problems << layout.columns[f].label + QStringLiteral("的文字不是 %1 编码").arg(codePage->name());
                    continue;
                }
                if (kind == FieldKind::Option) {
                    value = std::int64_t(*decoded == u"1" ? 1 : 0);
                    continue;
                }
                if (const QString problem = textProblem(*decoded); !problem.isEmpty()) {
                    problems << layout.columns[f].label + problem;
                    continue;
                }
                value = *decoded;
                continue;
            }
            const auto needs = [&](std::size_t bytes) { return size_ >= bytes; };
            switch (column->col_type) {
            case MDB_DATETIME: {
                if (!needs(8))
                    return damaged(layout.columns[f].label + QStringLiteral("的值不完整"));
                const double stored = mdb_get_double(mdb->pg_buf, field.start);
                if (const std::optional<QDate> day = jetDay(stored))
                    value = day->toString(u"yyyy-MM-dd");
                else
                    problems << layout.columns[f].label +
                                    QStringLiteral("的值 %1 不是公元 1 至 9999 年间的日期").arg(stored, 0, 'g', 17);
                break;
            }
            case MDB_BYTE:
                value = std::int64_t(needs(1) && data[0] == 1 ? 1 : 0);
                break;
            case MDB_INT:
                value = std::int64_t(needs(2) && std::int16_t(mdb_get_int16(mdb->pg_buf, field.start)) == 1 ? 1 : 0);
                break;
            case MDB_LONGINT:
                value = std::int64_t(needs(4) && std::int32_t(le32(data)) == 1 ? 1 : 0);
                break;
            case MDB_FLOAT:
                value = std::int64_t(needs(4) && mdb_get_single(mdb->pg_buf, field.start) == 1.0f ? 1 : 0);
                break;
            case MDB_DOUBLE:
                value = std::int64_t(needs(8) && mdb_get_double(mdb->pg_buf, field.start) == 1.0 ? 1 : 0);
                break;
            default:
                break;
            }
        }
        for (std::size_t f = 0; f < layout.columns.size(); ++f)
            if (layout.columns[f].kind == FieldKind::Option && isNull(report.values[f]))
                report.values[f] = std::int64_t(0);
        report.problem = problems.join(u'；');
        return {};
    }

    // Reads the row a moved row's place points to, then goes back to the page being read.
    Status followMoved(int start, std::size_t size, LegacyReport& report)
    {
        if (size < 4)
            return damaged(QStringLiteral("第 %1 页上一个移走的行没有新位置").arg(page));
        const unsigned char* pointer = mdb->pg_buf + start;
        const int row = pointer[0];
        const guint32 target = guint32(pointer[1]) | guint32(pointer[2]) << 8 | guint32(pointer[3]) << 16;
        const auto here = page;
        Status s = [&]() -> Status {
            if (target == 0 || mdb_read_pg(mdb, target) != mdb->fmt->pg_size || mdb->pg_buf[0] != MDB_PAGE_DATA ||
                le32(mdb->pg_buf + 4) != guint32(table->entry->table_pg))
                return damaged(QStringLiteral("移走的行所指的第 %1 页不是%2 的数据页").arg(target).arg(layout.description));
            int movedStart = 0;
            size_t movedSize = 0;
            if (mdb_find_row(mdb, row, &movedStart, &movedSize) != 0 || movedSize == 0 ||
                (unsigned(movedStart) & kMovedRow))
                return damaged(QStringLiteral("移走的行在第 %1 页上找不到").arg(target));
            page = target;
            return crack(int(unsigned(movedStart) & kOffsetMask), movedSize, report);
        }();
        page = here;
        if (mdb_read_pg(mdb, here) != mdb->fmt->pg_size)
            return damaged(QStringLiteral("第 %1 页无法再次读取").arg(here));
        return s;
    }
};

LegacyReader::LegacyReader(const LegacyLayout& layout)
    : m(std::make_unique<State>(layout))
{
}

LegacyReader::~LegacyReader() = default;

namespace {

// What the first page says about the file before libmdb reads it: a Jet 3 or Jet 4 database of
// whole pages.
Status checkHeader(const QString& name, const unsigned char* head, std::size_t headSize, qint64 fileSize)
{
    if (fileSize == 0)
        return Failure{FailureCode::LegacyNotJet,
                       QStringLiteral("文件 %1 是空的（0 字节），不是旧程序的数据库。").arg(name)};
    static const char jet[] = "\x00\x01\x00\x00Standard Jet DB";
    static const char ace[] = "\x00\x01\x00\x00Standard ACE DB";
    const std::size_t signature = sizeof jet - 1;
    if (headSize >= signature && std::memcmp(head, ace, signature) == 0)
        return Failure{FailureCode::LegacyNotJet,
                       QStringLiteral("文件 %1 是 Access 2007 以后的数据库（.accdb），不是旧程序的 Jet 数据库。"
                                      "请用旧程序的 Data.Dat。")
                           .arg(name)};
    if (headSize < signature || std::memcmp(head, jet, signature) != 0)
        return Failure{FailureCode::LegacyNotJet,
                       QStringLiteral("文件 %1 不是旧程序的数据库（不是 Jet 数据库文件）。请确认复制的是旧程序的 "
                                      "Data\\Data.Dat。")
                           .arg(name)};
    if (headSize <= 0x14 || head[0x14] > 1)
        return Failure{FailureCode::LegacyNotJet,
                       QStringLiteral("文件 %1 的 Jet 版本（%2）未知，只能导入 Jet 3（Access 97）和 Jet 4"
                                      "（Access 2000–2003）的数据库。")
                           .arg(name, headSize > 0x14 ? QString::number(head[0x14]) : QStringLiteral("?"))};
    const qint64 pageSize = head[0x14] == 0 ? 2048 : 4096;
    if (fileSize % pageSize != 0 || fileSize < 3 * pageSize)
        return Failure{FailureCode::LegacyDamaged,
                       QStringLiteral("旧数据库 %1 不完整（%2 字节，不是整数个 %3 字节的页），很可能在复制时被截断，"
                                      "未导入任何报告。请从旧电脑重新复制这个文件。")
                           .arg(name, QString::number(fileSize), QString::number(pageSize))};
    return {};
}

} // namespace

Status LegacyReader::open(const QString& path, const QString& codePage)
{
    m = std::make_unique<State>(m->layout);
    QFile file(path);
    if (!QFileInfo(path).isFile())
        return Failure{FailureCode::LegacyNotReadable, QStringLiteral("找不到旧数据库文件 %1。").arg(path)};
    if (!file.open(QIODevice::ReadOnly))
        return Failure{FailureCode::LegacyNotReadable,
                       QStringLiteral("无法读取旧数据库文件 %1（%2）。").arg(path, file.errorString())};
    const QByteArray head = file.read(4096);
    if (Status s = checkHeader(path, reinterpret_cast<const unsigned char*>(head.constData()),
                               std::size_t(head.size()), file.size());
        !s)
        return s;
    file.close();
    m->mdb = mdb_open(QFile::encodeName(path).constData(), MDB_NOFLAGS);
    if (!m->mdb)
        return Failure{FailureCode::LegacyNotReadable, QStringLiteral("无法打开旧数据库文件 %1。").arg(path)};
    return openHandle(path, codePage);
}

Status LegacyReader::openBuffer(const std::uint8_t* data, std::size_t size, const QString& name,
                                const QString& codePage)
{
    m = std::make_unique<State>(m->layout);
    if (Status s = checkHeader(name, data, std::min<std::size_t>(size, 4096), qint64(size)); !s)
        return s;
    m->mdb = mdb_open_buffer(const_cast<std::uint8_t*>(data), size, MDB_NOFLAGS);
    if (!m->mdb)
        return Failure{FailureCode::LegacyNotReadable, QStringLiteral("无法打开旧数据库 %1。").arg(name)};
    return openHandle(name, codePage);
}

Status LegacyReader::openHandle(const QString& name, const QString& codePage)
{
    State& s = *m;
    s.name = name;
    s.version = IS_JET3(s.mdb) ? 3 : 4;
    if (s.mdb->f->db_key != 0)
        return Failure{FailureCode::LegacyEncrypted,
                       QStringLiteral("旧数据库 %1 已加密（编码），无法读取，未导入任何报告。请在旧电脑上用 Access "
                                      "的“工具 → 安全 → 解码数据库”解除加密，再复制过来导入。")
                           .arg(name)};
    if (s.version == 3) {
        s.codePage = CodePage::open(codePage);
        if (!s.codePage)
            return Failure{FailureCode::LegacyNotReadable,
                           QStringLiteral("系统不认识代码页 %1，无法读出旧数据库的文字。").arg(codePage)};
    }
    if (!mdb_read_catalog(s.mdb, MDB_TABLE))
        return s.damaged(QStringLiteral("数据库目录无法读取"));
    MdbCatalogEntry* entry = nullptr;
    QStringList tables;
    for (unsigned i = 0; i < s.mdb->num_catalog; ++i) {
        auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(s.mdb->catalog, i));
        if (e->object_type != MDB_TABLE || mdb_is_system_table(e))
            continue;
        const QString tableName = QString::fromUtf8(e->object_name);
        if (tableName.compare(s.layout.table, Qt::CaseInsensitive) == 0 && !entry)
            entry = e;
        else
            tables << tableName;
    }
    if (!entry)
        return Failure{FailureCode::LegacyNoReportTable,
                       QStringLiteral("旧数据库 %1 中没有%2（%3），未导入任何报告。请确认这是旧程序的 "
                                      "Data.Dat。")
                           .arg(name, s.layout.description, tables.isEmpty() ? QStringLiteral("目录中没有任何表，文件可能已损坏")
                                                       : QStringLiteral("其中的表：") + tables.join(u"、"))};
    s.table = mdb_read_table(entry);
    if (!s.table || !mdb_read_columns(s.table))
        return s.damaged(s.layout.description + QStringLiteral("的定义无法读取"));
    for (std::size_t f = 0; f < s.layout.columns.size(); ++f) {
        const LegacyColumn& field = s.layout.columns[f];
        int found = -1;
        for (unsigned c = 0; c < s.table->num_cols && found < 0; ++c) {
            const auto* column = static_cast<const MdbColumn*>(g_ptr_array_index(s.table->columns, c));
            if (QString::fromUtf8(column->name).compare(field.name, Qt::CaseInsensitive) == 0)
                found = int(c);
        }
        if (found < 0)
            return Failure{FailureCode::LegacyColumnUnusable,
                           QStringLiteral("旧数据库 %1 的%2 中没有列%3，未导入任何报告。")
                               .arg(name, s.layout.description, field.label)};
        const auto* column = static_cast<const MdbColumn*>(g_ptr_array_index(s.table->columns, found));
        if (!typeFits(field.kind, column->col_type))
            return Failure{FailureCode::LegacyColumnUnusable,
                           QStringLiteral("旧数据库 %1 的%2 中，列%3的类型是“%4”，存放不了%5，"
                                          "未导入任何报告。")
                               .arg(name, s.layout.description, field.label, typeName(column->col_type),
                                    field.kind == FieldKind::Date     ? QStringLiteral("日期")
                                    : field.kind == FieldKind::Option ? QStringLiteral("处理方式的 1 或 0")
                                                                      : QStringLiteral("文字"))};
        s.columnOf[f] = found;
    }
    s.fields.resize(s.table->num_cols);
    s.declared = s.table->num_rows;
    mdb_rewind_table(s.table);
    return {};
}

int LegacyReader::jetVersion() const
{
    return m ? m->version : 0;
}

std::int64_t LegacyReader::declaredCount() const
{
    return m ? m->declared : 0;
}

Result<bool> LegacyReader::next(LegacyReport& report)
{
    State& s = *m;
    if (s.finished)
        return false;
    for (;;) {
        if (!s.pageLoaded || s.nextRow >= s.rowsOnPage) {
            const int page = mdb_read_next_dpg(s.table);
            if (page <= 0) {
                s.finished = true;
                if (s.read == 0 && s.declared == 0)
                    return Failure{FailureCode::LegacyEmpty,
                                   QStringLiteral("旧数据库 %1 的%2 中没有任何报告，没有可导入的内容。")
                                       .arg(s.name, s.layout.description)};
                if (s.read != s.declared)
                    return s.damaged(QStringLiteral("%1 登记有 %2 份报告，读出的却是 %3 份")
                                         .arg(s.layout.description, QString::number(s.declared),
                                              QString::number(s.read)));
                return false;
            }
            s.page = guint32(page);
            s.pageLoaded = true;
            s.nextRow = 0;
            const int rco = s.mdb->fmt->row_count_offset;
            s.rowsOnPage = mdb_get_int16(s.mdb->pg_buf, rco);
            if (rco + 2 + 2 * s.rowsOnPage > s.mdb->fmt->pg_size)
                return s.damaged(QStringLiteral("第 %1 页上的行数 %2 不可能").arg(s.page).arg(s.rowsOnPage));
        }
        const int row = s.nextRow++;
        int start = 0;
        size_t size = 0;
        if (mdb_find_row(s.mdb, row, &start, &size) != 0)
            return s.damaged(QStringLiteral("第 %1 页上第 %2 行的位置无效").arg(s.page).arg(row));
        const unsigned flags = unsigned(start);
        if ((flags & kDeletedRow) || size == 0)
            continue;
        if (s.read >= s.declared)
            return s.damaged(QStringLiteral("%1 中的报告比登记的 %2 份多").arg(s.layout.description).arg(s.declared));
        report = LegacyReport{};
        report.ordinal = ++s.read;
        const int offset = int(flags & kOffsetMask);
        if (Status st = (flags & kMovedRow) ? s.followMoved(offset, size, report) : s.crack(offset, size, report); !st)
            return st.failure();
        return true;
    }
}

} // namespace korvela::legacy
