#include "store/change_functions.h"

#include "store/history_chain.h"

#include <QSysInfo>

#include <pwd.h>
#include <sqlite3.h>
#include <unistd.h>

#include <optional>
#include <string_view>

namespace korvela {

QString loginName()
{
    // The login of the account the program runs as: a user's own environment cannot change it.
    if (const passwd* user = getpwuid(geteuid()))
        return QString::fromLocal8Bit(user->pw_name);
    return QString::number(geteuid());
}

QString hostName()
{
    return QSysInfo::machineHostName();
}

namespace {

// What the connection's open transaction says of its changes (korvela_context), forgotten when
// the transaction ends.
struct Context
{
    QByteArray who = loginName().toUtf8();
    QByteArray host = hostName().toUtf8();
    std::optional<QByteArray> action;
    std::optional<sqlite3_int64> restores;

    void forget()
    {
        action.reset();
        restores.reset();
    }
};

Context& context(sqlite3_context* call)
{
    return *static_cast<Context*>(sqlite3_user_data(call));
}

void resultText(sqlite3_context* call, const QByteArray& text)
{
    sqlite3_result_text(call, text.constData(), int(text.size()), SQLITE_TRANSIENT);
}

void who(sqlite3_context* call, int, sqlite3_value**)
{
    resultText(call, context(call).who);
}

void host(sqlite3_context* call, int, sqlite3_value**)
{
    resultText(call, context(call).host);
}

// korvela_action(default): the action the transaction named, else the trigger's own.
void action(sqlite3_context* call, int, sqlite3_value** args)
{
    if (const auto& named = context(call).action)
        resultText(call, *named);
    else
        sqlite3_result_value(call, args[0]);
}

void restores(sqlite3_context* call, int, sqlite3_value**)
{
    if (const auto& seq = context(call).restores)
        sqlite3_result_int64(call, *seq);
    else
        sqlite3_result_null(call);
}

// korvela_context(action, restores): null or empty leaves the trigger's own action.
void setContext(sqlite3_context* call, int, sqlite3_value** args)
{
    Context& c = context(call);
    c.forget();
    if (const auto* text = sqlite3_value_text(args[0]); text && *text)
        c.action = QByteArray(reinterpret_cast<const char*>(text), sqlite3_value_bytes(args[0]));
    if (sqlite3_value_type(args[1]) != SQLITE_NULL)
        c.restores = sqlite3_value_int64(args[1]);
    sqlite3_result_null(call);
}

// korvela_digest(previous, column, ...): the chain's hash of a row.
void digest(sqlite3_context* call, int count, sqlite3_value** args)
{
    ChainDigest d;
    for (int i = 0; i < count; ++i) {
        switch (sqlite3_value_type(args[i])) {
        case SQLITE_NULL:
            d.addNull();
            break;
        case SQLITE_INTEGER:
            d.addInteger(sqlite3_value_int64(args[i]));
            break;
        default: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(args[i]));
            d.addText(std::string_view(text, std::size_t(sqlite3_value_bytes(args[i]))));
        }
        }
    }
    resultText(call, d.hex().toLatin1());
}

int forgetOnCommit(void* state)
{
    static_cast<Context*>(state)->forget();
    return 0; // the commit goes on
}

void forgetOnRollback(void* state)
{
    static_cast<Context*>(state)->forget();
}

} // namespace

int registerChangeFunctions(sqlite3* db)
{
    auto* state = new Context;
    struct Function
    {
        const char* name;
        int arguments;
        void (*call)(sqlite3_context*, int, sqlite3_value**);
    };
    // The first one registered owns the context and deletes it with the connection.
    const Function functions[] = {{"korvela_who", 0, who},         {"korvela_host", 0, host},
                                  {"korvela_action", 1, action},   {"korvela_restores", 0, restores},
                                  {"korvela_context", 2, setContext}, {"korvela_digest", -1, digest}};
    void (*const release)(void*) = [](void* p) { delete static_cast<Context*>(p); };
    bool first = true;
    for (const Function& f : functions) {
        const int rc = sqlite3_create_function_v2(db, f.name, f.arguments, SQLITE_UTF8, state, f.call, nullptr,
                                                  nullptr, first ? release : nullptr);
        if (rc != SQLITE_OK)
            return rc; // a failed registration has given the context to its destructor already
        first = false;
    }
    sqlite3_commit_hook(db, forgetOnCommit, state);
    sqlite3_rollback_hook(db, forgetOnRollback, state);
    return SQLITE_OK;
}

} // namespace korvela
