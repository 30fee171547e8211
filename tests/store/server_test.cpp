// The report server as several workstations and an unreliable network see it. Every test here
// runs against the test program's own PostgreSQL server.

#include "records/report_store.h"
#include "store/postgres_database.h"
#include "store/server_session.h"
#include "store/store_choice.h"
#include "support/fakes.h"
#include "support/test_server.h"
#include "support/test_store.h"
#include "support/window_fixture.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

using namespace korvela;
using namespace korvela::test;

namespace {

// Another workstation: the save_worker program on the same service.
class Workstation
{
public:
    explicit Workstation(int lockTimeoutMs = 5000)
    {
        m_process.start(QStringLiteral(SAVE_WORKER_PATH), {QString::number(lockTimeoutMs)});
        EXPECT_EQ(line(), "ready");
    }
    ~Workstation()
    {
        m_process.closeWriteChannel();
        m_process.waitForFinished(10000);
    }
    void save(const char* number, const char* name, const char* answer = "yes", int holdMs = 0)
    {
        m_process.write(QUrl::toPercentEncoding(QString::fromUtf8(number)) + ' ' + name + ' ' + answer + ' ' +
                        QByteArray::number(holdMs) + '\n');
        // Sent at once, not when this workstation is next read: saves sent together run together.
        m_process.waitForBytesWritten();
    }
    // The next line the workstation says ("asked N", "saved", "failed CODE" ...).
    std::string line(int timeoutMs = 20000)
    {
        QElapsedTimer t;
        t.start();
        while (!m_process.canReadLine() && t.elapsed() < timeoutMs)
            m_process.waitForReadyRead(100);
        return m_process.readLine().trimmed().toStdString();
    }

private:
    QProcess m_process;
};

class ServerStore : public ::testing::Test
{
protected:
    // The reports saved under a number, spelt in any of the ways a save takes for the same one.
    int rows(const char* number)
    {
        return store
            .scalar(QStringLiteral("SELECT count(*) FROM A WHERE lower(btrim(A3, ' ')) = "
                                   "lower(btrim('%1', ' '))")
                        .arg(QString::fromUtf8(number)))
            .toInt();
    }
    SaveResult save(const QString& number, const QString& name)
    {
        ReportRecord r;
        r[Field::ScreeningNumber] = number;
        r[Field::PatientName] = name;
        return reports.save(r, [&] { return askToOverwrite(prompts, r); });
    }

    TestStore store{StoreKind::Server};
    ReportStore reports{store.db()};
    FakePrompts prompts;
};

// Two workstations with the same new number at the same moment, typed in other Latin case and
// with blanks around it on one of them: one row, and the second one is asked whether to change
// it. The server takes a while over each new row, so the two saves overlap for certain.
TEST_F(ServerStore, TheSameNewNumberSavedAtOnceGivesOneRowAndTheQuestionOnTheSecond)
{
    store.exec(QStringLiteral("CREATE FUNCTION slow_insert() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                              "PERFORM pg_sleep(0.1); RETURN NEW; END $$; "
                              "CREATE TRIGGER slow_insert BEFORE INSERT ON a FOR EACH ROW "
                              "EXECUTE FUNCTION slow_insert()"));
    Workstation first, second;
    for (int round = 0; round < 20; ++round) {
        const QByteArray number = "SAME" + QByteArray::number(round);
        first.save(number.constData(), "甲");
        second.save(QByteArray(" " + number.toLower() + " ").constData(), "乙");
        const std::vector<std::string> said{first.line(), second.line()};
        int asked = 0;
        for (const std::string& s : said)
            asked += s.rfind("asked", 0) == 0;
        EXPECT_EQ(asked, 1) << "round " << round << ": exactly one of the two is asked";
        // The one that was asked answers yes and saves too.
        for (Workstation* w : {&first, &second}) {
            if (said[w == &first ? 0 : 1].rfind("asked", 0) == 0) {
                EXPECT_EQ(w->line(), "saved");
            }
        }
        EXPECT_EQ(rows(number.constData()), 1) << "round " << round;
    }
}

// A save of another number never waits for a workstation whose question is open; a save of the
// same number waits for its lock no longer than the time-out, then fails and changes nothing.
TEST_F(ServerStore, OpenQuestionHoldsOnlyItsOwnNumberAndOnlyUpToTheLockTimeout)
{
    store.exec(QStringLiteral("INSERT INTO A (A1, A3) VALUES ('旧', 'HELD')"));
    Workstation holder(1000), other(1000);
    holder.save("HELD", "新", "yes", 4000);
    ASSERT_EQ(holder.line(), "asked HELD");

    other.save("FREE", "另");
    EXPECT_EQ(other.line(3000), "saved") << "another number does not wait for the open question";

    QElapsedTimer waited;
    waited.start();
    other.save("HELD", "插队");
    EXPECT_EQ(other.line(), "failed " + std::to_string(FailureCode::ServerLockTimeout));
    EXPECT_LT(waited.elapsed(), 3500) << "gave up after its lock time-out, while the question was still open";
    EXPECT_EQ(holder.line(), "saved");
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT string_agg(A1, ',') FROM A WHERE A3 = 'HELD'")), u"新");
    EXPECT_EQ(rows("FREE"), 1);
}

// A save of a number whose question is open on another workstation waits for it, within the
// lock time-out, and then goes on.
TEST_F(ServerStore, ASaveWaitsForAShortlyHeldNumberAndThenSaves)
{
    store.exec(QStringLiteral("INSERT INTO A (A1, A3) VALUES ('旧', 'WAIT')"));
    Workstation holder;
    holder.save("WAIT", "先", "yes", 1000);
    ASSERT_EQ(holder.line(), "asked WAIT");
    prompts.answer(PromptAnswer::Yes);
    const SaveResult waited = save(QStringLiteral("WAIT"), QStringLiteral("后"));
    EXPECT_EQ(waited.kind, SaveResult::Saved) << waited.failure.description.toStdString();
    EXPECT_EQ(holder.line(), "saved");
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT string_agg(A1, ',') FROM A WHERE A3 = 'WAIT'")), u"后");
}

// A text holding U+0000, which the server cannot store, is refused rather than cut short there.
TEST_F(ServerStore, ATextWithUPlus0000IsRefusedAndNothingIsStored)
{
    const SaveResult refused = save(QStringLiteral("NUL1"), QString::fromUtf16(u"张\0三", 3));
    EXPECT_EQ(refused.kind, SaveResult::Failed);
    EXPECT_EQ(refused.failure.code, FailureCode::TextNotStorable);
    EXPECT_EQ(rows("NUL1"), 0);
    EXPECT_FALSE(store.db().inTransaction());
}

// A workstation in the middle of saving or deleting a number holds the number itself, though no
// row holds it yet: a save of that number, in any case, waits up to its lock time-out, then fails
// and writes nothing; once the number is let go the save goes through.
TEST_F(ServerStore, ASaveWaitsForAnotherWorkstationInTheMiddleOfTheSameNewNumber)
{
    TestStore other(StoreKind::Server, store.serverDatabase());
    const std::optional<Statement> lock = ReportSql(SqlDialect::Postgres).lockNumber(QStringLiteral("NEW1"));
    ASSERT_TRUE(lock.has_value());
    ASSERT_TRUE(other.db().begin().ok());
    ASSERT_TRUE(other.db().execute(*lock).ok());

    Workstation late(1000);
    late.save("new1", "乙");
    EXPECT_EQ(late.line(), "failed " + std::to_string(FailureCode::ServerLockTimeout));
    EXPECT_EQ(rows("new1"), 0);
    ASSERT_TRUE(other.db().rollback().ok());
    late.save("new1", "乙");
    EXPECT_EQ(late.line(), "saved");
}

// The server restarted under a running program: the next save works on a new connection; a
// save while the server is away fails with the usual message and leaves no transaction open.
TEST_F(ServerStore, ASaveAfterTheServerRestartedWorksAndOneWhileItIsAwayFailsCleanly)
{
    ASSERT_EQ(save(QStringLiteral("R1"), QStringLiteral("甲")).kind, SaveResult::Saved);
    TestServer::shared().stop();
    TestServer::shared().start();
    EXPECT_EQ(save(QStringLiteral("R2"), QStringLiteral("乙")).kind, SaveResult::Saved);

    TestServer::shared().stop();
    const SaveResult away = save(QStringLiteral("R3"), QStringLiteral("丙"));
    EXPECT_EQ(away.kind, SaveResult::Failed);
    EXPECT_EQ(away.failure.code, FailureCode::ServerConnectionLost);
    EXPECT_FALSE(store.db().inTransaction());
    TestServer::shared().start();
    EXPECT_EQ(save(QStringLiteral("R3"), QStringLiteral("丙")).kind, SaveResult::Saved);
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT string_agg(A3, ',' ORDER BY rowid) FROM A")), u"R1,R2,R3");
}

// The server ends the connection while the question is open: the overwrite is rolled back,
// the old report is whole, the failure is the usual one, and the next save works.
TEST_F(ServerStore, AConnectionEndedInTheMiddleOfASaveWritesNothing)
{
    ASSERT_EQ(save(QStringLiteral("K1"), QStringLiteral("原来")).kind, SaveResult::Saved);
    const int process = static_cast<PostgresReportDatabase&>(store.db()).serverProcess();
    prompts.whileAsked = [&](const Prompt&) {
        store.exec(QStringLiteral("SELECT pg_terminate_backend(%1)").arg(process));
    };
    prompts.answer(PromptAnswer::Yes);
    const SaveResult cut = save(QStringLiteral("K1"), QStringLiteral("改了"));
    EXPECT_EQ(cut.kind, SaveResult::Failed);
    EXPECT_EQ(cut.failure.code, FailureCode::ServerConnectionLost);
    showSaveFailure(prompts, cut.failure);
    EXPECT_TRUE(prompts.last().title.startsWith(u"数据保存/替换错误:"));
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT string_agg(A1, ',') FROM A")), u"原来");

    prompts.whileAsked = {};
    prompts.answer(PromptAnswer::Yes);
    EXPECT_EQ(save(QStringLiteral("K1"), QStringLiteral("再改")).kind, SaveResult::Saved);
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT string_agg(A1, ',') FROM A")), u"再改");
}

// A refusal means the same failure to a workstation and to the administrator, whichever SQLSTATE
// the server gives; only the words differ. The refusals without a meaning of their own name it.
TEST(ServerRefusals, EachSqlStateMeansOneFailureToTheWorkstationAndToTheAdministrator)
{
    const struct
    {
        const char* state;
        int code;
        bool named; // the message names the SQLSTATE
    } cases[] = {
        {"55P03", FailureCode::ServerLockTimeout, false},    // waited longer than lock_timeout
        {"40P01", FailureCode::ServerLockTimeout, false},    // a deadlock the server broke
        {"40001", FailureCode::ServerRefused, true},         // a serialization failure waited for no lock
        {"57014", FailureCode::ServerRefused, true},         // a cancelled statement; the session goes on
        {"57P01", FailureCode::ServerConnectionLost, false}, // the server shutting down
        {"08006", FailureCode::ServerConnectionLost, false},
        {"53100", FailureCode::ServerRefused, false}, // disk full
        {"42501", FailureCode::ServerRefused, false}, // no privilege
        {"25006", FailureCode::ServerRefused, false}, // a read-only transaction
        {"22P02", FailureCode::ServerRefused, true},
    };
    TestStore store(StoreKind::Server);
    Result<ServerSession> administrator = ServerSession::open(serviceConnection(), std::chrono::seconds(1));
    ASSERT_TRUE(administrator) << administrator.failure().description.toStdString();
    for (const auto& c : cases) {
        const QString state = QString::fromLatin1(c.state);
        const QString refuse =
            QStringLiteral("DO $$ BEGIN RAISE EXCEPTION 'refused' USING ERRCODE = '%1'; END $$").arg(state);
        const Status refusals[] = {store.db().execute({refuse, {}}), administrator->execute(refuse)};
        for (const Status& refused : refusals) {
            ASSERT_FALSE(refused.ok()) << c.state;
            EXPECT_EQ(refused.failure().code, c.code) << c.state;
            EXPECT_EQ(refused.failure().description.contains(state), c.named)
                << refused.failure().description.toStdString();
        }
    }
}

// Two workstations' windows open on one server: each finds, browses, changes and deletes what
// the other saved.
TEST(TwoWorkstations, SaveFindBrowseAndDeleteEachOthersReports)
{
    WindowFixture first({}, StoreKind::Server);
    WindowFixture second({}, StoreKind::Server, first.store.serverDatabase());
    const auto saveReport = [](WindowFixture& w, const QString& number, const QString& name) {
        w.click(QStringLiteral("cmdAdd"));
        w.type(QStringLiteral("a3"), number);
        w.type(QStringLiteral("a1"), name);
        w.click(QStringLiteral("cmdSave"));
    };
    const auto searchAll = [](WindowFixture& w) {
        for (const char* box : {"b3", "b1", "b14", "b13", "b113"})
            w.type(QString::fromLatin1(box), QString());
        w.click(QStringLiteral("Command1"));
        return w.text(QStringLiteral("Label1"));
    };

    saveReport(first, QStringLiteral("W1-001"), QStringLiteral("张三"));
    saveReport(second, QStringLiteral("W2-001"), QStringLiteral("李四"));
    EXPECT_EQ(searchAll(second), u"共查询到 2 条符合条件的记录");
    EXPECT_EQ(second.text(QStringLiteral("a3")), u"W2-001") << "newest entered first";
    second.click(QStringLiteral("Command4"));
    EXPECT_EQ(second.text(QStringLiteral("a1")), u"张三") << "the other workstation's report";

    second.type(QStringLiteral("a4"), QStringLiteral("第二台补充"));
    second.prompts.answer(PromptAnswer::Yes);
    second.click(QStringLiteral("cmdSave"));
    EXPECT_EQ(second.prompts.last().text, u"保存完毕！");
    first.type(QStringLiteral("b3"), QStringLiteral("W1"));
    first.click(QStringLiteral("Command1"));
    EXPECT_EQ(first.text(QStringLiteral("a4")), u"第二台补充");

    first.type(QStringLiteral("a3"), QStringLiteral("W2-001"));
    first.prompts.answer(PromptAnswer::Yes);
    first.click(QStringLiteral("cmddel"));
    EXPECT_EQ(first.prompts.last().text, u"删除完毕!");
    EXPECT_EQ(searchAll(second), u"共查询到 1 条符合条件的记录");
    EXPECT_EQ(second.text(QStringLiteral("a3")), u"W1-001");
    EXPECT_TRUE(first.prompts.allAnswersUsed() && second.prompts.allAnswersUsed());
}

// Which store a workstation opens: the service when one is configured, else the file.
TEST(StoreChoice, TheServiceDecidesAndAServerThatIsNotThereIsAFailureNamingIt)
{
    TempProgramFolder folder;
    const QByteArray configured = qgetenv("PGSERVICEFILE");
    qputenv("PGSERVICEFILE", QFile::encodeName(folder.path() + u"/none.conf"));
    Result<std::unique_ptr<ReportDatabase>> embedded = openReportStore(folder.path(), std::chrono::seconds(1));
    ASSERT_TRUE(embedded.ok());
    EXPECT_EQ((*embedded)->dialect(), SqlDialect::Sqlite);

    TestServer& server = TestServer::shared();
    const QString database = server.createReportDatabase();
    server.pointServiceAt(database);
    Result<std::unique_ptr<ReportDatabase>> onServer = openReportStore(folder.path(), std::chrono::seconds(1));
    ASSERT_TRUE(onServer.ok()) << onServer.failure().description.toStdString();
    EXPECT_EQ((*onServer)->dialect(), SqlDialect::Postgres);
    onServer = Failure{};

    server.dropDatabase(database);
    Result<std::unique_ptr<ReportDatabase>> gone = openReportStore(folder.path(), std::chrono::seconds(1));
    ASSERT_FALSE(gone.ok());
    EXPECT_EQ(gone.failure().code, FailureCode::ServerUnreachable);
    EXPECT_TRUE(gone.failure().description.contains(database)) << gone.failure().description.toStdString();
    qputenv("PGSERVICEFILE", configured);
}

} // namespace
