-- The report database on a PostgreSQL server (UTF8 encoding). korvela-admin server-init runs this
-- only when table a is missing. One row per report:
--   rowid     the order of entry (newest entered has the largest), as the embedded store's row id
--   a1..a14   texts of any length; a13 is the examination date (null when none was chosen)
--   a15..a27  the thirteen handling options, 1 checked and 0 not
-- Names, screening numbers and physicians are compared with Latin letters folded to lower case
-- (lower() under the "C" collation folds A-Z only, as the embedded store does). An index holds the
-- first 200 characters of a text, so texts of any length fit under the index's row limit while a
-- prefix search on up to 200 characters is read from the index.
CREATE TABLE IF NOT EXISTS a (
    rowid bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    a1  text,
    a2  text,
    a3  text,
    a4  text,
    a5  text,
    a6  text,
    a7  text,
    a8  text,
    a9  text,
    a10 text,
    a11 text,
    a12 text,
    a13 date,
    a14 text,
    a15 integer, a16 integer, a17 integer, a18 integer, a19 integer, a20 integer, a21 integer,
    a22 integer, a23 integer, a24 integer, a25 integer, a26 integer, a27 integer
);

-- Prefix searches on number, name and physician.
CREATE INDEX IF NOT EXISTS a_a3 ON a (lower(left(a3, 200) COLLATE "C"));
CREATE INDEX IF NOT EXISTS a_a1 ON a (lower(left(a1, 200) COLLATE "C"));
CREATE INDEX IF NOT EXISTS a_a14 ON a (lower(left(a14, 200) COLLATE "C"));
-- Range and order on the date: newest first, no date last, ties newest entered first. Only the
-- reports a search can find (those with a screening number), so counting them reads this index
-- alone.
CREATE INDEX IF NOT EXISTS a_a13 ON a (a13 DESC NULLS LAST, rowid DESC) WHERE a3 <> '';
-- How many reports a search of all of them finds: one deduplicated key per report, a fifth of the
-- date index's size, read alone.
CREATE INDEX IF NOT EXISTS a_found ON a ((true)) WHERE a3 <> '';
-- The save and the delete look a report up by its trimmed screening number.
CREATE INDEX IF NOT EXISTS a_key ON a (lower(left(btrim(a3, ' '), 200) COLLATE "C"));
