// A restore of Data.Dat that waits after one of its steps, for a test to kill it there:
//   restore_paused PROGRAM_FOLDER COPY STEP        (STEP: copied, kept or replaced)
// Says "paused at STEP" on its standard output when it gets there, then waits a minute.
#include "admin/restore.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 4) {
        std::fputs("usage: restore_paused PROGRAM_FOLDER COPY copied|kept|replaced\n", stderr);
        return 2;
    }
    using korvela::admin::RestoreStep;
    korvela::admin::RestoreHooks hooks;
    hooks.reached = [&](RestoreStep step) {
        const char* const name = step == RestoreStep::Copied      ? "copied"
                                 : step == RestoreStep::KeptAside ? "kept"
                                                                  : "replaced";
        if (arguments[3] != QLatin1String(name))
            return;
        std::printf("paused at %s\n", name);
        std::fflush(stdout);
        QThread::sleep(60);
    };
    const korvela::Result<korvela::admin::RestoreSummary> restored =
        korvela::admin::restoreDataFile(arguments[1], arguments[2], QDateTime::currentDateTime(), hooks);
    if (!restored)
        std::fprintf(stderr, "%s\n", restored.failure().description.toUtf8().constData());
    return restored ? 0 : 1;
}
