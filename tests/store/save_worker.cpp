// A workstation for the concurrency tests: saves reports on the server named by the service
// "korvela", one per line read from standard input:
//     <number> <name> <yes|no> <milliseconds the question stays open>
// (the number percent-encoded, so that it may begin or end with a space)
// and answers each with one line: "asked <number>" when the question "是否更改？" comes up (before
// it is answered), then "saved", "declined" or "failed <code>". The first argument is the lock
// time-out in milliseconds. Prints "ready" once connected.

#include "records/report_store.h"
#include "store/postgres_database.h"
#include "store/store_choice.h"

#include <QCoreApplication>
#include <QThread>
#include <QUrl>

#include <cstdio>
#include <iostream>
#include <string>

using namespace korvela;

namespace {

class TimedPrompts final : public Prompts
{
public:
    PromptAnswer show(const Prompt& p) override
    {
        if (p.buttons != PromptButtons::YesNo)
            return PromptAnswer::Ok;
        std::printf("asked %s\n", number.c_str());
        std::fflush(stdout);
        QThread::msleep(holdMs);
        return yes ? PromptAnswer::Yes : PromptAnswer::No;
    }

    std::string number;
    bool yes = true;
    unsigned long holdMs = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    PostgresReportDatabase db;
    if (Status s = db.open(serviceConnection(), std::chrono::milliseconds(std::stol(argv[1]))); !s) {
        std::printf("failed %d %s\n", s.failure().code, s.failure().description.toStdString().c_str());
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    ReportStore store(db);
    TimedPrompts prompts;
    std::string name, answer;
    while (std::cin >> prompts.number >> name >> answer >> prompts.holdMs) {
        prompts.yes = answer == "yes";
        ReportRecord record;
        record[Field::ScreeningNumber] = QUrl::fromPercentEncoding(QByteArray::fromStdString(prompts.number));
        record[Field::PatientName] = QString::fromStdString(name);
        const SaveResult r = store.save(record, [&] { return askToOverwrite(prompts, record); });
        if (r.kind == SaveResult::Saved)
            std::printf("saved\n");
        else if (r.kind == SaveResult::Declined)
            std::printf("declined\n");
        else
            std::printf("failed %d\n", r.failure.code);
        std::fflush(stdout);
    }
    return 0;
}
