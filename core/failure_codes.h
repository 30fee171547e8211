#pragma once

// The failure codes of the whole program, one list. A failed save or delete shows its code in the
// message's title, beside the database engine's own codes (SQLite's extended result codes, all
// below 10,000), so the program's codes start at 100000: a number a user reads out on the phone
// tells at once whether the engine or the program refused. Each folder has a block of a hundred.
namespace korvela::FailureCode {

// The report database and its result sets.
inline constexpr int DatabaseNotOpen = 100101; // operation on a closed connection or result set
inline constexpr int NoCurrentRow = 100102;    // before the first or past the last row
inline constexpr int NoSuchField = 100103;     // a column the result set does not have
inline constexpr int VersionUnreadable = 100104; // a version in the history that is no array of the 27 values

// The window's load.
inline constexpr int WordProcessorNotMade = 100201;
inline constexpr int DocFolderNotMade = 100202;

// The search boxes; each names the date box that holds no date.
inline constexpr int FromDateUnreadable = 100301; // 查询检查日期从
inline constexpr int ToDateUnreadable = 100302;   // 查询检查日期到

// Report documents: the template, print and export.
inline constexpr int NoTemplate = 100401;
inline constexpr int TemplateNotRefreshed = 100402;
inline constexpr int LockFileNotRemoved = 100403;
inline constexpr int ReportTooLong = 100404;
inline constexpr int NoWordProcessor = 100405;
inline constexpr int NoExportFolder = 100406;

// The word processor (LibreOffice).
inline constexpr int OfficeNotInstalled = 100501;
inline constexpr int OfficeNotStarted = 100502;
inline constexpr int OfficeEnded = 100503;
inline constexpr int NoOpenDocument = 100504;
inline constexpr int DocumentNotOpened = 100505;
inline constexpr int DocumentNotFilled = 100506;
inline constexpr int DocumentNotSaved = 100507;
inline constexpr int SaveRefused = 100508;
inline constexpr int CloseCancelled = 100509;
inline constexpr int OfficeWindowFailed = 100510;
inline constexpr int OfficeOptionsFailed = 100511;
inline constexpr int DocumentFormatUnknown = 100512; // the saved file is not the Word 97 file expected
inline constexpr int DocumentFileUnwritable = 100513;

// The report store itself: where it lies and the server.
inline constexpr int DatabaseOnNetwork = 100601;    // Data.Dat on a network file system
inline constexpr int ServerUnreachable = 100602;    // the service's server refused or did not answer
inline constexpr int ServerConnectionLost = 100603; // the connection ended during a statement
inline constexpr int ServerLockTimeout = 100604;    // another workstation held the lock too long
inline constexpr int ServerRefused = 100605;        // any other refusal; its SQLSTATE is in the text
inline constexpr int ServerNotUsable = 100606;      // not UTF8, read-only, or without table a
inline constexpr int TextNotStorable = 100607;      // a text holds U+0000, which the server cannot store
inline constexpr int ServiceFileUnusable = 100608;  // a service file without a usable [korvela] section
inline constexpr int StoreMovedToServer = 100609;   // Data.Dat moved to a server, no service korvela here
inline constexpr int SchemaVersionOther = 100610;   // the store's tables are older or newer than the program's

// korvela-admin; the server's own refusals keep the store's codes above.
inline constexpr int NoServerService = 100701;    // no libpq service "korvela" is configured
inline constexpr int SourceNotReadable = 100702;  // Data.Dat missing, not a database, or without table A
inline constexpr int ValueNotMovable = 100703;    // a stored value the server's column cannot hold as it is
inline constexpr int ServerHoldsReports = 100704; // the server has reports and --add was not given
inline constexpr int CopyMismatch = 100705;       // the server's copy differs from the file: rolled back
inline constexpr int NoServerSchema = 100706;     // table a is missing: server-init first
inline constexpr int StaffRoleRefused = 100707;   // add-user/remove-user: a name taken, the owner, no staff member

// korvela-admin import-legacy: the old program's Jet database and its import.
inline constexpr int LegacyNotReadable = 100801;  // the file is missing or cannot be read
inline constexpr int LegacyNotJet = 100802;       // empty, a text, or another kind of file or database
inline constexpr int LegacyEncrypted = 100803;    // an encoded (encrypted) Jet database
inline constexpr int LegacyDamaged = 100804;      // truncated, or pages or rows that are no Jet structure
inline constexpr int LegacyNoReportTable = 100805; // no table A
inline constexpr int LegacyColumnUnusable = 100806; // a column of A missing, or of a type unfit for its value
inline constexpr int LegacyEmpty = 100807;        // table A holds no report
inline constexpr int LegacyReaderFailed = 100808; // the reading process crashed, hung or ended unasked
inline constexpr int ImportMismatch = 100809;     // the store's count or checksum of the added reports differs
inline constexpr int StoreIsLegacyFile = 100810;  // Data/Data.Dat is itself the old program's file

// korvela-admin backup and restore.
inline constexpr int BackupFailed = 100901;   // no checked copy was made; the older ones are all kept
inline constexpr int RestoreRefused = 100902; // the program runs, or the copy failed its checks: nothing changed

// korvela-review: its CSV, PDF and print.
inline constexpr int ReviewFileNotWritten = 101001; // a CSV or PDF file could not be written
inline constexpr int ReviewCancelled = 101002;      // the user stopped a PDF or a print on its way

} // namespace korvela::FailureCode
