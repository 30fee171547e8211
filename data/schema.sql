-- The report database Data/Data.Dat. Setup runs this only when the file is missing.
-- One row per report. Texts accept the empty text; A13 is the examination date as the text
-- 'YYYY-MM-DD' (so text order is date order and a range is inclusive of its last day);
-- A15..A27 are the thirteen handling options, 1 checked and 0 not.
-- Names, screening numbers and physicians compare without regard to the case of Latin letters.
PRAGMA journal_mode = WAL;

CREATE TABLE IF NOT EXISTS A (
    A1  TEXT COLLATE NOCASE,
    A2  TEXT,
    A3  TEXT COLLATE NOCASE,
    A4  TEXT,
    A5  TEXT,
    A6  TEXT,
    A7  TEXT,
    A8  TEXT,
    A9  TEXT,
    A10 TEXT,
    A11 TEXT,
    A12 TEXT,
    A13 TEXT,
    A14 TEXT COLLATE NOCASE,
    A15 INTEGER, A16 INTEGER, A17 INTEGER, A18 INTEGER, A19 INTEGER, A20 INTEGER, A21 INTEGER,
    A22 INTEGER, A23 INTEGER, A24 INTEGER, A25 INTEGER, A26 INTEGER, A27 INTEGER
);

-- Prefix searches on number, name and physician; range and order on the date.
CREATE INDEX IF NOT EXISTS A_A3 ON A (A3);
CREATE INDEX IF NOT EXISTS A_A1 ON A (A1);
CREATE INDEX IF NOT EXISTS A_A14 ON A (A14);
CREATE INDEX IF NOT EXISTS A_A13 ON A (A13);
-- The save and the delete look a report up by its trimmed screening number.
CREATE INDEX IF NOT EXISTS A_key ON A (trim(A3, ' ') COLLATE NOCASE);
