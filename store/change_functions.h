#pragma once

#include <QString>

struct sqlite3;

namespace korvela {

// The Linux login of the user running the program, and this workstation's host name: who and
// where a change on the embedded store was made.
QString loginName();
QString hostName();

// The functions the file's history triggers call, registered on a connection that may change
// table A (korvela_who, korvela_host, korvela_action, korvela_restores, korvela_context,
// korvela_digest). A connection without them cannot change the reports unless the triggers are
// dropped, and the history then shows it. Answers SQLite's result code.
int registerChangeFunctions(sqlite3* db);

} // namespace korvela
