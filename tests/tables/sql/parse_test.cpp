// Statements read exactly: the model each branch of the grammar builds (as
// its dump), every message as the caller sees it, where a statement ends,
// the order in which queries are prepared and executed, parameters, and
// that a failed parse keeps nothing and leaves the language settings as
// they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "support/raised.h"
#include "tables/engine/base/languages.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/lib/language_settings.h"
#include "tables/sql/model_dump.h"
#include "tests/tables/sql/sql_test_support.h"

namespace korvex::testing {
namespace {

struct DumpCase {
  const char* text;
  const char* dump;
};

// One statement per branch of the grammar, with the edge cases: "a AS t.b"
// is named b; RIGHT JOIN puts its table first with FROM order 2; INSERT
// without columns has one "*" field; the COMMIT INTERVAL after an INSERT's
// SELECT is the INSERT's; NOJOINOPTIMIZE right after the table is its
// correlation name; CREATE followed by UNIQUE, NOCASE or a direction is an
// index; a signed DEFAULT is one value.
const DumpCase kDumpCases[] = {
    {R"(SELECT a AS t.b FROM t)",
     R"(query 0 SELECT
source from=1 name=t corr=t
result name=b given field=a
parameters 0
)"},
    {R"(select all a 'x', b [y], c AS "z", d AS w.v, e f.g FROM t)",
     R"(query 0 SELECT
source from=1 name=t corr=t
result name=x given field=a
result name=y given field=b
result name=z given field=c
result name=v given field=d
result name=g given field=e
parameters 0
)"},
    {R"(SELECT DISTINCT * , t.*, COUNT(*), AVG(t.b) Mean, MIN(a*2), MAX(b), SUM(c), a+1, UPPER(n) FROM 'dir/t.dat')",
     R"(query 0 SELECT
flags distinct avg calculated
source from=1 name=dir/t.dat corr=t
result field=*
result field=* corr=t
result field=* calc=count
result name=Mean given field=b corr=t calc=avg
result calc=min expr=a*2
result field=b calc=max
result field=c calc=sum
result expr=a+1
result expr=UPPER(n)
parameters 0
)"},
    {R"(SELECT a FROM a RIGHT JOIN b ON a.x = b.y)",
     R"(query 0 SELECT
flags multiple where
source from=2 name=b corr=b
source from=1 name=a corr=a
result name=a field=a
where (=@right a.x b.y)
parameters 0
)"},
    {R"(SELECT a FROM a RIGHT OUTER JOIN b bb ON a.x = bb.y AND a.z > 1 LEFT JOIN c ON c.k <> bb.k INNER JOIN d AS dd ON dd.k = a.k JOIN MEMORY e ON e.k = a.k WHERE a.q = ?)",
     R"(query 0 SELECT
flags multiple where
source from=2 name=b corr=bb
source from=1 name=a corr=a
source from=3 name=c corr=c
source from=4 name=d corr=dd
source from=5 name=e corr=e memory
result name=a field=a
where (AND (AND (AND (AND (AND@on (=@right a.x bb.y) (>@on a.z 1)) (<>@left c.k bb.k)) (=@inner dd.k a.k)) (=@inner e.k a.k)) (= a.q ?))
parameters 1
)"},
    {R"(SELECT a FROM a LEFT OUTER JOIN b ON a.x = b.y, c WHERE c.z IN (1, 2) AND a.w IN (SELECT v FROM u))",
     R"(query 0 SELECT
flags multiple where
source from=1 name=a corr=a
source from=2 name=b corr=b
source from=3 name=c corr=c
result name=a field=a
where (AND (=@left a.x b.y) (AND (IN c.z 1 2) (IN a.w <query 1>)))
query 1 SELECT nested
flags wantlive
source from=1 name=u corr=u
result name=v field=v
parameters 0
)"},
    {R"(SELECT a INTO MEMORY 'r x' FROM t AS 'x y')",
     R"(query 0 SELECT
flags intomemory
source from=1 name=t corr=x y
result name=a field=a
into r x
parameters 0
)"},
    {R"(SELECT a FROM t GROUP BY a, t.b, 3 HAVING COUNT(a) > 1 ORDER BY a ASC, t.b DESC, 2 DESCENDING, c ASCENDING NOCASE WITH LOCKS LANGUAGE 'german (swiss)' SORT 'german phone book order' ENCRYPTED WITH 'secret' NOJOINOPTIMIZE;)",
     R"(query 0 SELECT
flags nojoinoptimize having orderby nocase groupby withlocks
source from=1 name=t corr=t
result name=a field=a
having (> (COUNT a) 1)
group a
group t.b
group #3
order a
order t.b desc
order #2 desc
order c
setting language=2055
setting sort=1
setting password=secret
parameters 0
)"},
    {R"(SELECT a FROM t LANGUAGE 'ANSI Standard' ENCRYPTED WITH '')",
     R"(query 0 SELECT
source from=1 name=t corr=t
result name=a field=a
setting language=0
setting password=
parameters 0
)"},
    {R"(SELECT * FROM t NOJOINOPTIMIZE)",
     R"(query 0 SELECT
source from=1 name=t corr=NOJOINOPTIMIZE
result field=*
parameters 0
)"},
    {R"(SELECT * FROM t x NOJOINOPTIMIZE)",
     R"(query 0 SELECT
flags nojoinoptimize
source from=1 name=t corr=x
result field=*
parameters 0
)"},
    {R"(INSERT INTO t VALUES (1, 'x'))",
     R"(query 0 INSERT
flags wantlive
source from=1 name=t corr=t
update *
value 1
value 'x'
parameters 0
)"},
    {R"(INSERT INTO MEMORY t x (a, 'b c', t.d) VALUES (?, 1 + 2, NULL) NOAUTOINC COMMIT INTERVAL +5;)",
     R"(query 0 INSERT
flags wantlive noautoinc
source from=1 name=t corr=x memory
update a
update b c
update d corr=t
value ?
value 1 + 2
value NULL
setting commit=5
parameters 1
)"},
    {R"(INSERT INTO t SELECT * FROM s COMMIT INTERVAL 100)",
     R"(query 0 INSERT
flags subselectinsert wantlive
source from=1 name=t corr=t
update *
setting commit=100
query 1 SELECT nested
flags wantlive
source from=1 name=s corr=s
result field=*
parameters 0
)"},
    {R"(UPDATE t SET a = ?, "b" = 'x' WHERE c IN (SELECT d FROM u WHERE e IN (SELECT f FROM v)) NOAUTOINC COMMIT INTERVAL 3)",
     R"(query 0 UPDATE
flags where wantlive noautoinc
source from=1 name=t corr=t
where (IN c <query 1>)
update a
update b
value ?
value 'x'
setting commit=3
query 1 SELECT nested
flags where wantlive
source from=1 name=u corr=u
result name=d field=d
where (IN e <query 2>)
query 2 SELECT nested
flags wantlive
source from=1 name=v corr=v
result name=f field=f
parameters 1
)"},
    {R"(UPDATE MEMORY t AS x SET x.a = a + 1)",
     R"(query 0 UPDATE
flags wantlive
source from=1 name=t corr=x memory
update a corr=x
value a + 1
parameters 0
)"},
    {R"(DELETE FROM MEMORY t x WHERE a = 1 COMMIT INTERVAL 10)",
     R"(query 0 DELETE
flags where wantlive
source from=1 name=t corr=x memory
where (= a 1)
setting commit=10
parameters 0
)"},
    {R"(DELETE FROM t AS 'x' WHERE a = 1;)",
     R"(query 0 DELETE
flags where wantlive
source from=1 name=t corr=x
where (= a 1)
parameters 0
)"},
    {R"(CREATE TABLE t (a INTEGER, b CHAR(5), PRIMARY KEY (a)))",
     R"(query 0 CREATE TABLE
column a type=6/0/4/0
column b type=1/0/6/0
index keys=a
table t
parameters 0
)"},
    {R"(CREATE TABLE MEMORY "t x" ("a b" AUTOINC DESCRIPTION 'id' NOT NULL, b VARCHAR(20) DEFAULT 'abc' MINIMUM 'a' MAXIMUM 'z' CHARCASE LOWER, c DECIMAL(10,2) DEFAULT -1.5 MIN -10 MAX +10, d BLOB(0,1) CHARCASE NOCHANGE, e DATE, f BOOLEAN, g BYTES(8), h MONEY, i TIMESTAMP, j TIME, k SMALLINT, l WORD, m FLOAT))",
     R"(query 0 CREATE TABLE
flags memory
column a b type=6/29/4/0 desc=id notnull
column b type=1/0/21/0 default=abc min=a max=z charcase=1
column c type=8/0/8/2 default=-1.5 min=-10 max=+10
column d type=3/22/0/0 charcase=0
column e type=2/0/4/0
column f type=4/0/2/0
column g type=9/0/8/0
column h type=7/21/8/0
column i type=11/0/8/0
column j type=10/0/4/0
column k type=5/0/2/0
column l type=12/0/2/0
column m type=7/0/8/0
table t x
parameters 0
)"},
    {R"(CREATE TABLE t (a INTEGER CONSTRAINT pk UNIQUE DESC NOCASE PRIMARY KEY (a, 'b') COMPRESS DUPBYTE DESCRIPTION 'table' BLOB BLOCK SIZE 1024 LANGUAGE 'Danish' ENCRYPTED WITH 'pw' USER MAJOR VERSION 2 USER MINOR VERSION 3))",
     R"(query 0 CREATE TABLE
column a type=6/0/4/0
index keys=a,b unique desc nocase compress=1
table t
setting description=table
setting blocksize=1024
setting language=1030
setting password=pw
setting major=2
setting minor=3
parameters 0
)"},
    {R"(CREATE TABLE t (a INTEGER, DESCRIPTION 'only'))",
     R"(query 0 CREATE TABLE
column a type=6/0/4/0
table t
setting description=only
parameters 0
)"},
    {R"(create unique index ix on t (a, b) compress full)",
     R"(query 0 CREATE INDEX
index name=ix keys=a,b unique compress=3
table t
parameters 0
)"},
    {R"(CREATE NOCASE INDEX 'i x' ON MEMORY t (a) COMPRESS NONE)",
     R"(query 0 CREATE INDEX
flags memory
index name=i x keys=a nocase
table t
parameters 0
)"},
    {R"(CREATE ASC INDEX ix ON t (a))",
     R"(query 0 CREATE INDEX
index name=ix keys=a
table t
parameters 0
)"},
    {R"(ALTER TABLE t ADD c INTEGER AT 2, REDEFINE a b INTEGER, DROP d, DROP PRIMARY KEY)",
     R"(query 0 ALTER TABLE
column c type=6/0/4/0 at=2 add
column a new=b type=6/0/4/0 redefine
column d drop
index drop
table t
parameters 0
)"},
    {R"(ALTER TABLE MEMORY t ADD COLUMN c CHAR(3) AT -1 DESCRIPTION 'd' NOT NULL DEFAULT 'x' MIN 'a' MAX 'z' CHARCASE UPPER)",
     R"(query 0 ALTER TABLE
flags memory
column c type=1/0/4/0 at=-1 desc=d notnull default=x min=a max=z charcase=2 add
table t
parameters 0
)"},
    {R"(ALTER TABLE t REDEFINE a, REDEFINE COLUMN b CHAR(9) DEFAULT 0, DROP COLUMN c INTEGER, DROP CONSTRAINT pk PRIMARY KEY)",
     R"(query 0 ALTER TABLE
column a redefine
column b type=1/0/10/0 default=0 redefine
column c type=6/0/4/0 drop
index drop
table t
parameters 0
)"},
    {R"(ALTER TABLE t REDEFINE a b, REDEFINE c d CHAR(4) AT 1)",
     R"(query 0 ALTER TABLE
column a new=b redefine
column c new=d type=1/0/5/0 at=1 redefine
table t
parameters 0
)"},
    {R"(ALTER TABLE t DESCRIPTION 'x' BLOB BLOCK SIZE 2048 LANGUAGE 'Danish' SORT 'Default Order' ENCRYPTED WITH 'pw' USER MAJOR VERSION 3 USER MINOR VERSION 4 LAST AUTOINC 100 NOBACKUP;)",
     R"(query 0 ALTER TABLE
flags nobackup
table t
setting description=x
setting blocksize=2048
setting language=1030
setting sort=0
setting password=pw
setting major=3
setting minor=4
setting lastautoinc=100
parameters 0
)"},
    {R"(ALTER TABLE t REDEFINE a INTEGER USER MAJOR VERSION 2 NOBACKUP)",
     R"(query 0 ALTER TABLE
flags nobackup
column a type=6/0/4/0 redefine
table t
setting major=2
parameters 0
)"},
    {R"(DROP TABLE MEMORY 'c:\x\t.dat';)",
     R"(query 0 DROP TABLE
flags memory
table c:\x\t.dat
parameters 0
)"},
    {R"(DROP INDEX t.primary)",
     R"(query 0 DROP INDEX
index name=primary drop
table t
parameters 0
)"},
    {R"(DROP INDEX MEMORY 'dir/t.dat'.ix;)",
     R"(query 0 DROP INDEX
flags memory
index name=ix drop
table dir/t.dat
parameters 0
)"},
};

TEST_F(SqlTest, EveryBranchBuildsItsModel) {
  for (const DumpCase& c : kDumpCases) EXPECT_EQ(ParseDump(c.text), c.dump) << c.text;
}

struct MessageCase {
  const char* text;
  const char* message;  // after "KORVEX Engine Error # 11949 SQL error - "
};

// Every message of the statement grammar, and the expression grammar's
// messages with the context name each clause gives them.
const MessageCase kMessageCases[] = {
    {R"(CREATE VIEW v)", R"(TABLE or INDEX keyword expected, instead found 'VIEW')"},
    {R"(create nocase table t)", R"(INDEX keyword expected, instead found 'table')"},
    {R"(DROP VIEW v)", R"(TABLE or INDEX keyword expected, instead found 'VIEW')"},
    {R"(ALTER INDEX i)", R"(TABLE keyword expected, instead found 'INDEX')"},
    {R"()", R"(SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, instead found '')"},
    {R"(42)", R"(SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, instead found '42')"},
    {R"(SELECT)", R"(Source column expression is empty)"},
    {R"(SELECT a AS , b FROM t)", R"(Symbol or string expected after AS keyword, instead found ',')"},
    {R"(SELECT a b.( FROM t)", R"(Symbol or string expected after table correlation name, instead found '(')"},
    {R"(SELECT a INTO MEMORY 5 FROM t)", R"(Result table name expected in INTO MEMORY clause, instead found '5')"},
    {R"(SELECT a INTO [r] FROM t)", R"(Result table name expected in INTO clause, instead found 'r')"},
    {R"(SELECT a, b)", R"(FROM keyword expected, instead found '')"},
    {R"(SELECT a FROM)", R"(Table name expected after FROM keyword, instead found '')"},
    {R"(SELECT a FROM MEMORY ()", R"(Table name expected after FROM keyword, instead found '(')"},
    {R"(SELECT a FROM t AS 1)", R"(Symbol or string expected after AS keyword, instead found '1')"},
    {R"(SELECT a FROM t x, u x)", R"(Duplicate table correlation name 'x' found in source tables)"},
    {R"(SELECT a FROM t, T)", R"(Duplicate table correlation name 'T' found in source tables)"},
    {R"(SELECT a FROM t JOIN 5 ON x)", R"(Table name expected after JOIN keyword, instead found '5')"},
    {R"(SELECT a FROM t JOIN u v WHERE x)", R"(ON keyword expected in JOIN clause, instead found 'WHERE')"},
    {R"(SELECT a FROM t JOIN u ON)", R"(WHERE or JOIN clause is empty)"},
    {R"(SELECT a FROM t INNER u ON x)", R"(JOIN keyword expected after INNER keyword, instead found 'u')"},
    {R"(SELECT a FROM t LEFT OUTER u ON x)", R"(JOIN keyword expected after LEFT or OUTER keyword, instead found 'u')"},
    {R"(SELECT a FROM t RIGHT u ON x)", R"(JOIN keyword expected after RIGHT or OUTER keyword, instead found 'u')"},
    {R"(SELECT a FROM a FULL JOIN b ON a.x = b.x)", R"(Full outer joins are currently not supported in KORVEX SQL SELECT statements)"},
    {R"(SELECT a FROM t WHERE)", R"(WHERE or JOIN clause is empty)"},
    {R"(SELECT a FROM t WHERE ;)", R"(WHERE or JOIN clause is empty)"},
    {R"(SELECT a FROM t GROUP a)", R"(BY keyword expected after GROUP keyword, instead found 'a')"},
    {R"(SELECT a FROM t GROUP BY 1.5)", R"(Column name or column number expected in GROUP BY clause, instead found '1.5')"},
    {R"(SELECT a FROM t GROUP BY t.)", R"(Column name or column number expected in GROUP BY clause, instead found '')"},
    {R"(SELECT a FROM t GROUP BY a HAVING)", R"(HAVING clause is empty)"},
    {R"(SELECT a FROM t GROUP BY 0)", R"(Column name or column number expected in GROUP BY clause, instead found '0')"},
    {R"(SELECT a FROM t ORDER BY 65536)", R"(Column name or column number expected in ORDER BY clause, instead found '65536')"},
    {R"(CREATE TABLE t (a INTEGER USER MAJOR VERSION 65536))", R"(Integer constant between 0 and 65535 expected for user version number, instead found '65536')"},
    {R"(CREATE TABLE t (a INTEGER BLOB BLOCK SIZE -512))", R"(Integer constant between 0 and 65535 expected for BLOB block size, instead found '-512')"},
    {R"(DELETE FROM t COMMIT INTERVAL ))", R"(Unknown or unexpected symbol ')' found in commit interval)"},
    {R"(CREATE INDEX i ON t ())", R"(Unknown or unexpected symbol ')' found in index column)"},
    {R"(ALTER TABLE t LAST AUTOINC ))", R"(Unknown or unexpected symbol ')' found in next auto-increment number)"},
    {R"(DROP INDEX ()", R"(Unknown or unexpected symbol '' found in index name expression)"},
    {R"(SELECT a FROM t ORDER a)", R"(BY keyword expected after ORDER keyword, instead found 'a')"},
    {R"(SELECT a FROM t ORDER BY ,)", R"(Column name or column number expected in ORDER BY clause, instead found ',')"},
    {R"(SELECT a FROM t WITH LOCK)", R"(LOCKS keyword expected after WITH keyword, instead found 'LOCK')"},
    {R"(SELECT a FROM t LANGUAGE 'Klingon')", R"(Invalid language constant 'Klingon' specified after LANGUAGE keyword)"},
    {R"(SELECT a FROM t LANGUAGE 'Danish' SORT 'German Phone Book Order')", R"(Invalid sort constant 'German Phone Book Order' specified after SORT keyword)"},
    {R"(SELECT a FROM t ENCRYPTED 'x')", R"(WITH keyword expected after ENCRYPTED keyword, instead found 'x')"},
    {R"(SELECT a FROM t x y)", R"(End of SELECT statement expected, instead found 'y')"},
    {R"(SELECT SUM(MAX(x)) FROM t)", R"(Aggregate functions cannot be nested)"},
    {R"(SELECT COUNT(a + SUM(b)) FROM t)", R"(Aggregate functions cannot be nested)"},
    {R"(SELECT 1 + SUM(a) FROM t)", R"(Aggregate functions cannot be used within expressions)"},
    {R"(SELECT ? FROM t)", R"(Parameters are not allowed in source column expression)"},
    {R"(SELECT a FROM t WHERE SUM(a) > 1)", R"(Aggregate functions are not allowed in WHERE or JOIN clause)"},
    {R"(SELECT a FROM t JOIN u ON t.a IN (SELECT b FROM v))", R"(Sub-select queries are not allowed in WHERE or JOIN clause)"},
    {R"(SELECT a FROM t WHERE a IN (SELECT b FROM v;))", R"(Expected right parentheses after IN operator, instead found ';' in WHERE or JOIN clause)"},
    {R"(SELECT a FROM t WHERE a IN (SELECT b FROM))", R"(Table name expected after FROM keyword, instead found ')')"},
    {R"(SELECT a FROM t GROUP BY a HAVING ? > 1)", R"(Parameters are not allowed in HAVING clause)"},
    {R"(INSERT t VALUES (1))", R"(INTO keyword expected, instead found 't')"},
    {R"(INSERT INTO (a) VALUES (1))", R"(Table name expected after INTO clause, instead found '(')"},
    {R"(INSERT INTO MEMORY (a))", R"(Table name expected after INTO keyword, instead found '(')"},
    {R"(INSERT INTO t (a, b VALUES (1))", R"(Right parentheses expected after list of table columns, instead found 'VALUES')"},
    {R"(INSERT INTO t ()", R"(Table column name is empty)"},
    {R"(INSERT INTO t (a) VALUES 1)", R"(Left parentheses expected after VALUES keyword, instead found '1')"},
    {R"(INSERT INTO t (a) VALUES (1, 2)", R"(Right parentheses expected after list of values, instead found '')"},
    {R"(INSERT INTO t (a) VALUES ()", R"(Value expression is empty)"},
    {R"(INSERT INTO t (a) (1))", R"(VALUES or SELECT  keyword expected, instead found '(')"},
    {R"(INSERT INTO t VALUES (1) COMMIT 5)", R"(INTERVAL keyword expected after COMMIT keyword, instead found '5')"},
    {R"(INSERT INTO t VALUES (1) COMMIT INTERVAL)", R"(Commit interval is empty)"},
    {R"(INSERT INTO t VALUES (1) COMMIT INTERVAL -3)", R"(COMMIT INTERVAL specified (-3) is invalid, it must be greater than 0)"},
    {R"(INSERT INTO t VALUES (1) COMMIT INTERVAL 2.5)", R"(COMMIT INTERVAL specified (0) is invalid, it must be greater than 0)"},
    {R"(INSERT INTO t VALUES (1) x)", R"(End of INSERT statement expected, instead found 'x')"},
    {R"(INSERT INTO t SELECT a FROM s x y)", R"(End of INSERT statement expected, instead found 'y')"},
    {R"(INSERT INTO t (a) VALUES (SUM(b)))", R"(Aggregate functions are not allowed in value expression)"},
    {R"(UPDATE 5 SET a = 1)", R"(Table name expected, instead found '5')"},
    {R"(UPDATE MEMORY 1 SET a = 1)", R"(Table name expected, instead found '1')"},
    {R"(UPDATE t AS 5 SET a = 1)", R"(Symbol or string expected after AS keyword, instead found '5')"},
    {R"(UPDATE t x a = 1)", R"(SET keyword expected, instead found 'a')"},
    {R"(UPDATE t SET a 1)", R"(Assignment (=) operator expected after column name, instead found '1')"},
    {R"(UPDATE t SET)", R"(Table column name is empty)"},
    {R"(UPDATE t SET a =)", R"(Value expression is empty)"},
    {R"(UPDATE t SET a + 1 = 2)", R"(Assignment (=) operator expected after column name, instead found '+')"},
    {R"(UPDATE t SET a = 1 WHERE b = 2 x)", R"(End of UPDATE statement expected, instead found 'x')"},
    {R"(DELETE t)", R"(FROM keyword expected, instead found 't')"},
    {R"(DELETE FROM)", R"(Table name expected, instead found '')"},
    {R"(DELETE FROM t COMMIT INTERVAL 0)", R"(COMMIT INTERVAL specified (0) is invalid, it must be greater than 0)"},
    {R"(DELETE FROM t NOJOINOPTIMIZE)", R"(End of DELETE statement expected, instead found 'NOJOINOPTIMIZE')"},
    {R"(CREATE TABLE (a INTEGER))", R"(Table name expected after CREATE TABLE keywords, instead found '(')"},
    {R"(CREATE TABLE MEMORY (a INTEGER))", R"(Table name expected, instead found '(')"},
    {R"(CREATE TABLE t a INTEGER)", R"(Left parentheses expected before list of table columns, instead found 'a')"},
    {R"(CREATE TABLE t ()", R"(Table column name is empty)"},
    {R"(CREATE TABLE t (a INTEGER)", R"(Right parentheses expected after CREATE TABLE statement, instead found '')"},
    {R"(CREATE TABLE t (a))", R"(SQL data type keyword expected, instead found ')' in table column)"},
    {R"(CREATE TABLE t (a FOO))", R"(SQL data type keyword expected, instead found 'FOO' in table column)"},
    {R"(CREATE TABLE t (a CHAR(0)))", R"(Length argument must be an integer greater than 0 and less than or equal to 250 in table column)"},
    {R"(CREATE TABLE t (a INTEGER NOT 1))", R"(NULL keyword expected after NOT keyword, instead found '1')"},
    {R"(CREATE TABLE t (a CHAR(2) CHARCASE MIXED))", R"(UPPER, LOWER, or NOCHANGE keyword expected after CHARCASE keyword, instead found 'MIXED')"},
    {R"(CREATE TABLE t (a INTEGER, UNIQUE KEY (a)))", R"(PRIMARY keyword expected, instead found 'KEY')"},
    {R"(CREATE TABLE t (a INTEGER, PRIMARY (a)))", R"(KEY keyword expected after PRIMARY keyword, instead found '(')"},
    {R"(CREATE TABLE t (a INTEGER, PRIMARY KEY a))", R"(Left parentheses expected after KEY keyword, instead found 'a')"},
    {R"(CREATE TABLE t (a INTEGER, PRIMARY KEY (a b)))", R"(Right parentheses expected after primary key clause, instead found 'b')"},
    {R"(CREATE TABLE t (a INTEGER, PRIMARY KEY ()", R"(Index column name is empty)"},
    {R"(CREATE TABLE t (a INTEGER, PRIMARY KEY (a) COMPRESS ALL))", R"(FULL, DUPBYTE, TRAILBYTE, or NONE keyword expected after COMPRESS keyword, instead found 'ALL')"},
    {R"(CREATE TABLE t (a INTEGER BLOB SIZE 512))", R"(BLOCK keyword expected after BLOB keyword, instead found 'SIZE')"},
    {R"(CREATE TABLE t (a INTEGER BLOB BLOCK 512))", R"(SIZE keyword expected after BLOCK keyword, instead found '512')"},
    {R"(CREATE TABLE t (a INTEGER BLOB BLOCK SIZE)", R"(BLOB block size is empty)"},
    {R"(CREATE TABLE t (a INTEGER BLOB BLOCK SIZE 'big'))", R"(Integer constant between 0 and 65535 expected for BLOB block size, instead found ''big'')"},
    {R"(CREATE TABLE t (a INTEGER USER VERSION 1))", R"(MAJOR keyword expected after USER keyword, instead found 'VERSION')"},
    {R"(CREATE TABLE t (a INTEGER USER MAJOR 1))", R"(VERSION keyword expected after MAJOR keyword, instead found '1')"},
    {R"(CREATE TABLE t (a INTEGER USER MAJOR VERSION 1 USER VERSION 1))", R"(MINOR keyword expected after USER keyword, instead found 'VERSION')"},
    {R"(CREATE TABLE t (a INTEGER USER MINOR 1))", R"(VERSION keyword expected after MINOR keyword, instead found '1')"},
    {R"(CREATE TABLE t (a INTEGER USER MAJOR VERSION)", R"(User version number is empty)"},
    {R"(CREATE TABLE t (a INTEGER LANGUAGE 'x'))", R"(Invalid language constant 'x' specified after LANGUAGE keyword)"},
    {R"(CREATE TABLE t (a INTEGER b INTEGER))", R"(Right parentheses expected after CREATE TABLE statement, instead found 'b')"},
    {R"(CREATE TABLE t (a INTEGER) x)", R"(End of CREATE TABLE statement expected, instead found 'x')"},
    {R"(CREATE UNIQUE ix ON t (a))", R"(INDEX keyword expected, instead found 'ix')"},
    {R"(CREATE INDEX ON t (a))", R"(ON keyword expected after index name, instead found 't')"},
    {R"(CREATE INDEX (a))", R"(Index name expected after INDEX keyword, instead found '(')"},
    {R"(CREATE INDEX ix t (a))", R"(ON keyword expected after index name, instead found 't')"},
    {R"(CREATE INDEX ix ON (a))", R"(Table name expected after ON keyword, instead found '(')"},
    {R"(CREATE INDEX ix ON MEMORY (a))", R"(Table name expected, instead found '(')"},
    {R"(CREATE INDEX ix ON t a)", R"(Left parentheses expected after KEY keyword, instead found 'a')"},
    {R"(CREATE INDEX ix ON t (a b))", R"(Right parentheses expected after primary key clause, instead found 'b')"},
    {R"(CREATE INDEX ix ON t (a) DESC)", R"(End of CREATE INDEX statement expected, instead found 'DESC')"},
    {R"(ALTER TABLE ()", R"(Table name expected after ALTER TABLE keywords, instead found '(')"},
    {R"(ALTER TABLE MEMORY)", R"(Table name expected, instead found '')"},
    {R"(ALTER TABLE t ADD a)", R"(SQL data type keyword expected, instead found '' in table column)"},
    {R"(ALTER TABLE t ADD a INTEGER AT)", R"(column position is empty)"},
    {R"(ALTER TABLE t ADD a INTEGER AT x)", R"(Integer constant expected for column position, instead found 'x')"},
    {R"(ALTER TABLE t DROP PRIMARY a)", R"(KEY keyword expected after PRIMARY keyword, instead found 'a')"},
    {R"(ALTER TABLE t DROP CONSTRAINT c KEY)", R"(PRIMARY keyword expected, instead found 'KEY')"},
    {R"(ALTER TABLE t LAST 5)", R"(AUTOINC keyword expected after LAST keyword, instead found '5')"},
    {R"(ALTER TABLE t LAST AUTOINC)", R"(Next auto-increment number is empty)"},
    {R"(ALTER TABLE t ADD a INTEGER NOBACKUP x)", R"(End of ALTER TABLE statement expected, instead found 'x')"},
    {R"(ALTER TABLE t REDEFINE a b FOO)", R"(End of ALTER TABLE statement expected, instead found 'FOO')"},
    {R"(DROP TABLE)", R"(Table name expected after TABLE keyword, instead found '')"},
    {R"(DROP TABLE MEMORY 5)", R"(Table name expected, instead found '5')"},
    {R"(DROP TABLE t u)", R"(End of DROP TABLE statement expected, instead found 'u')"},
    {R"(DROP INDEX)", R"(Index name expression is empty)"},
    {R"(DROP INDEX ix)", R"(Table name expected after INDEX keyword, instead found 'ix')"},
    {R"(DROP INDEX MEMORY 'ix')", R"(Table name expected, instead found 'ix')"},
    {R"(DROP INDEX t.ix u)", R"(End of DROP INDEX statement expected, instead found 'u')"},
    {R"(SELECT a FROM t WHERE b = 'x)", R"(Missing single quote after ''x' in WHERE or JOIN clause)"},
};

TEST_F(SqlTest, EveryMessageInFull) {
  for (const MessageCase& c : kMessageCases) EXPECT_EQ(PrepareError(c.text), kSqlPrefix + c.message) << c.text;
}

TEST_F(SqlTest, StatementKindsAndTheirTypes) {
  // The query component's enumeration is ordered differently from the kinds.
  const TSQLStatementType expected[] = {stUnknown,    stSelect,     stInsert,     stUpdate,
                                        stDelete,     stCreateTable, stAlterTable, stDropTable,
                                        stCreateIndex, stDropIndex,  stUnknown};
  for (int kind = 0; kind <= 10; ++kind) EXPECT_EQ(StatementTypeOfKind(kind), expected[kind]) << kind;
  EXPECT_EQ(static_cast<int>(stAlterTable), 7);
  EXPECT_EQ(static_cast<int>(stCreateIndex), 6);

  const std::pair<const char*, int> statements[] = {
      {"select a from t", 1}, {"insert into t values (1)", 2}, {"update t set a = 1", 3},
      {"delete from t", 4},   {"create table t (a integer)", 5}, {"alter table t nobackup", 6},
      {"drop table t", 7},    {"create descending index i on t (a)", 8}, {"drop index t.i", 9}};
  for (const auto& [text, kind] : statements) {
    TQueryStatement statement(nullptr);
    EXPECT_EQ(statement.GetStatementType(), 0);
    std::int32_t position = 0;
    statement.PrepareStatement(text, position);
    EXPECT_EQ(statement.GetStatementType(), kind) << text;
  }
}

TEST_F(SqlTest, ScriptsEndEachStatementAtItsSemicolon) {
  // FindStatementEnd: quotes (doubled quotes inside), brackets and comments
  // hide a ";"; without one the end of the text (or its first zero byte).
  const std::pair<std::string, std::size_t> ends[] = {
      {"a;b", 2},      {"'a;b';c", 6},     {"\"a\"\";\";x", 7}, {"[a;b];", 6},
      {"/*;*/;", 6},   {"abc", 3},          {"'a;", 3},          {"[a;", 3},
      {"/* ;", 4},     {std::string("a\0;b", 4), 4}, {"", 0}};
  for (const auto& [text, end] : ends) EXPECT_EQ(FindStatementEnd(text, 0), end) << text;
  EXPECT_EQ(FindStatementEnd("a;b;c", 2), 4u);
  EXPECT_EQ(FindStatementEnd("a;b", 10), 3u);

  // A script prepared statement by statement: each call stops at the next
  // statement's first token, and FindStatementEnd finds the same ends.
  const std::string script =
      "SELECT a FROM t WHERE b = ';' ; /* ; */ INSERT INTO 'x;y' VALUES (1);\n"
      "DELETE FROM t WHERE a IN (SELECT b FROM u);   DROP TABLE t";
  TQueryStatement statement(nullptr);
  std::int32_t position = 0;
  std::vector<int> kinds;
  while (position < static_cast<std::int32_t>(script.size())) {
    std::size_t end = FindStatementEnd(script, position);
    statement.PrepareStatement(script, position);
    kinds.push_back(statement.GetStatementType());
    // The next statement's first token: blanks and comments skipped.
    std::size_t next = end;
    for (;;) {
      next = std::min(script.find_first_not_of(" \n", next), script.size());
      if (script.compare(next, 2, "/*") != 0) break;
      next = script.find("*/", next) + 2;
    }
    EXPECT_EQ(static_cast<std::size_t>(position), next) << kinds.size();
  }
  EXPECT_EQ(kinds, (std::vector<int>{1, 2, 4, 7}));

  // "SELECT ...; rest" stops with the position at "rest"; a failed parse
  // leaves the position where it was.
  std::int32_t at = 0;
  statement.PrepareStatement("SELECT a FROM t;  rest", at);
  EXPECT_EQ(at, 18);
  EXPECT_EQ(statement.Parser().GetCurPos(), 18);
  EXPECT_THROW(statement.PrepareStatement("SELECT a FROM t;  rest", at), EKORVEXEngineError);
  EXPECT_EQ(at, 18);
  // The parser reads up to the first zero byte: a statement ending there
  // ends the script.
  const std::string zero("DROP TABLE t\0DROP", 17);
  statement.PrepareStatement(zero, at = 0);
  EXPECT_EQ(at, 17);
}

TEST_F(SqlTest, SubSelectsNestOnlySoDeep) {
  // 63 sub-selects inside each other parse; one more is refused with a
  // message instead of running out of stack.
  auto nested = [](int depth) {
    std::string text = "SELECT a FROM t";
    for (int i = 0; i < depth; ++i) text += " WHERE a IN (SELECT a FROM t";
    return text + std::string(static_cast<std::size_t>(depth), ')');
  };
  EXPECT_EQ(PrepareError(nested(63)), "");
  EXPECT_EQ(PrepareError(nested(64)), kSqlPrefix + "Sub-select queries nested too deeply");
  EXPECT_EQ(PrepareError(nested(100000)), kSqlPrefix + "Sub-select queries nested too deeply");
}

TEST_F(SqlTest, SubSelectsArePreparedAndExecutedInnermostFirst) {
  TQueryStatement statement(nullptr);
  std::vector<std::pair<bool, int>> steps;
  statement.StepHook = [&](bool executing, int index) { steps.emplace_back(executing, index); };
  std::int32_t position = 0;
  statement.PrepareStatement(
      "SELECT a FROM t WHERE a IN (SELECT b FROM u) AND c NOT IN (SELECT d FROM v WHERE e = ?)", position);
  ASSERT_EQ(statement.DataQueries().Count(), 3);
  EXPECT_TRUE(statement.DataQueries()[1]->Nested && statement.DataQueries()[2]->WantLiveResult);
  statement.MarkParametersBound(1);
  TDataCursor* result = nullptr;
  statement.ExecuteStatement(result);
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(steps, (std::vector<std::pair<bool, int>>{
                       {false, 2}, {false, 1}, {false, 0}, {true, 2}, {true, 1}, {true, 0}}));
  EXPECT_EQ(statement.GetExecutionTime(), 0.0);  // a run under a millisecond

  // Preparing the next statement drops the sub-selects of the last one.
  statement.PrepareStatement("SELECT a FROM t", position = 0);
  EXPECT_EQ(statement.DataQueries().Count(), 1);
}

TEST_F(SqlTest, EveryParameterMustBeBoundBeforeExecution) {
  TQueryStatement statement(nullptr);
  std::int32_t position = 0;
  statement.PrepareStatement("UPDATE t SET a = ? WHERE b = ? AND c IN (SELECT d FROM u WHERE e = ?)", position);
  ASSERT_EQ(statement.Parameters().size(), 3u);
  TDataCursor* result = nullptr;
  const std::string internal = kSqlPrefix + "Internal parameter error";
  for (int bound : {0, 2}) {
    statement.MarkParametersBound(bound);
    EXPECT_EQ(qvtest::WhatRaised<EKORVEXEngineError>([&] { statement.ExecuteStatement(result); }), internal) << bound;
  }
  EXPECT_EQ(qvtest::WhatRaised<EKORVEXEngineError>([&] { statement.MarkParametersBound(4); }), internal);
  statement.MarkParametersBound(3);
  EXPECT_NO_THROW(statement.ExecuteStatement(result));
}

TEST_F(SqlTest, ParametersTakeTheirValuesFromARecord) {
  TQueryStatement statement(nullptr);
  std::int32_t position = 0;
  statement.PrepareStatement("SELECT a FROM t WHERE a = ? AND b = ? AND c IN (?, ?, ?, ?)", position);
  ASSERT_EQ(statement.Parameters().size(), 6u);

  // integer 42, CHAR(5) "abc", BCD(2) NULL, float 2.5, boolean true, BLOB
  // of five bytes: flag byte and value at each offset.
  struct Field {
    std::uint8_t type, size, decimals;
    std::uint16_t offset;
  };
  const Field fields[] = {{dtInteger, 0, 0, 0}, {dtString, 5, 0, 5},  {dtBCD, 0, 2, 12},
                          {dtFloat, 0, 0, 21},  {dtBoolean, 0, 0, 30}, {dtBlob, 0, 0, 33}};
  std::vector<TFieldDefinition> definitions(7);
  for (int i = 0; i < 7; ++i) {
    const Field& f = fields[i % 6];
    definitions[i].DataType = f.type;
    definitions[i].Size = f.size;
    definitions[i].Decimals = f.decimals;
    definitions[i].UpdatePhysicalSize();
    definitions[i].Offset = f.offset;
  }
  std::uint8_t record[64] = {};
  const std::int32_t integer = 42;
  const double real = 2.5;
  const std::uint16_t truth = 1;
  const char blob[] = {'x', 'y', '\0', 'z', 'q'};
  record[0] = 1, std::memcpy(record + 1, &integer, 4);
  record[5] = 1, std::memcpy(record + 6, "abcdeX", 6);  // an unterminated CHAR(5) ends at its size
  record[12] = 0, record[13] = 0x7F;                    // NULL: the bytes are not taken
  record[21] = 1, std::memcpy(record + 22, &real, 8);
  record[30] = 1, std::memcpy(record + 31, &truth, 2);
  WriteBlobParameter(record + 33, blob, 5);
  ASSERT_LE(33 + kBlobParameterSize, sizeof record);

  statement.SetStatementParameters(3, definitions.data(), record);
  TDataCursor* result = nullptr;
  EXPECT_THROW(statement.ExecuteStatement(result), EKORVEXEngineError);
  EXPECT_EQ(
      qvtest::WhatRaised<EKORVEXEngineError>([&] { statement.SetStatementParameters(7, definitions.data(), record); }),
      kSqlPrefix + "Internal parameter error");
  EXPECT_NO_THROW(statement.ExecuteStatement(result));  // the six before the seventh are bound

  const auto& p = statement.Parameters();
  EXPECT_EQ(p[0]->Value<std::int32_t>(), 42);
  EXPECT_EQ(p[0]->DataSize, 4);
  EXPECT_EQ(std::string(p[1]->StringValue()), "abcde");
  EXPECT_EQ(p[1]->DataSize, 6);
  EXPECT_TRUE(p[2]->IsNull);
  EXPECT_EQ(p[2]->Scale, 2);
  EXPECT_EQ(p[2]->ValueBuffer[0], 0);
  EXPECT_EQ(p[3]->Value<double>(), 2.5);
  EXPECT_EQ(p[4]->ValueWord(), 1);
  EXPECT_EQ(p[5]->DataType, dtBlob);
  EXPECT_EQ(p[5]->DataSize, 5);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p[5]->ValueBuffer), 5), std::string(blob, 5));
  for (int i = 0; i < 6; ++i) EXPECT_EQ(p[i]->IsNull, i == 2) << i;

  // A BLOB record with a length but no data is refused.
  WriteBlobParameter(record + 33, nullptr, 3);
  EXPECT_THROW(statement.SetStatementParameters(6, definitions.data(), record), EKORVEXEngineError);
}

TEST_F(SqlTest, AFailedParseKeepsNothing) {
  // Errors after sub-selects, parameters, lists and trees were made: the
  // statement is empty again and no node or byte is left (the fixture
  // checks both).
  const char* failing[] = {
      "SELECT a, b FROM t WHERE a IN (SELECT b FROM u WHERE c = ?) AND d = ? ORDER BY x y",
      "INSERT INTO t (a, b) SELECT c FROM u WHERE d IN (SELECT e FROM v) COMMIT INTERVAL 0",
      "UPDATE t SET a = ?, b = ? WHERE c IN (SELECT d FROM u WHERE e IN (SELECT f FROM w WHERE g = ?)) x",
      "SELECT a FROM t WHERE a IN (SELECT b FROM u WHERE c = ? AND d IN (SELECT e FROM v WHERE f = 'x",
      "CREATE TABLE t (a INTEGER, b CHAR(4), PRIMARY KEY (a, b) COMPRESS x)",
      "ALTER TABLE t ADD a INTEGER, REDEFINE b c CHAR(3), DROP d LAST AUTOINC ?"};
  TQueryStatement statement(nullptr);
  for (const char* text : failing) {
    std::int32_t position = 3;
    EXPECT_THROW(statement.PrepareStatement(text, position), EKORVEXEngineError) << text;
    EXPECT_EQ(position, 3);
    EXPECT_EQ(DumpStatement(statement), "query 0 NONE\nparameters 0\n") << text;
  }
  std::int32_t position = 0;
  statement.PrepareStatement("DELETE FROM t WHERE a = ?", position);
  EXPECT_EQ(statement.Parameters().size(), 1u);
}

TEST_F(SqlTest, LanguageSettingsComeBackAndUnlockOnEveryPath) {
  // The session's language (English (UK)) has other date formats than the
  // settings in force.
  TLanguageSettings before;
  GetLanguageSettings(before);
  TLanguageSettings session;
  GetDefaultLanguageSettings(MakeLanguageID(9, 2), 0, session);
  ASSERT_NE(session, before);

  TSessionLocale locale{MakeLanguageID(9, 2), 0};
  for (const char* text : {"SELECT a FROM t WHERE d = 'x' ORDER BY", "SELECT a FROM t WHERE d > 1.5",
                           "DROP VIEW v", "SELECT a FROM t WHERE a IN (SELECT b FROM u WHERE c = 'x"}) {
    ParseDump(text, locale);
    TLanguageSettings after;
    GetLanguageSettings(after);
    EXPECT_EQ(after, before) << text;
    EXPECT_EQ(LanguageSettingsLockDepth(), 0) << text;
    // Another thread takes the lock at once.
    auto other = std::async(std::launch::async, [] {
      LockLanguageSettings();
      UnlockLanguageSettings();
    });
    EXPECT_EQ(other.wait_for(std::chrono::seconds(5)), std::future_status::ready) << text;
  }
}

TEST_F(SqlTest, ExecutionTimeInWholeMilliseconds) {
  using namespace std::chrono;
  const steady_clock::time_point t0{};
  const std::pair<steady_clock::duration, double> cases[] = {
      {microseconds(0), 0.0},   {microseconds(999), 0.0}, {milliseconds(1), 0.001},
      {microseconds(1999), 0.001}, {milliseconds(2500), 2.5}, {-milliseconds(5), 0.0}};
  for (const auto& [elapsed, seconds] : cases) EXPECT_DOUBLE_EQ(ElapsedSeconds(t0, t0 + elapsed), seconds);
}

TEST(SqlLanguages, ConstantsAndIDs) {
  EXPECT_EQ(GetLanguageNameFromIndex(0), "ANSI Standard");
  EXPECT_EQ(GetLanguageIDFromIndex(0), 0);
  EXPECT_EQ(ConvertLanguageConstantToID("german (swiss)"), 2055);
  EXPECT_EQ(ConvertLanguageConstantToID("Klingon"), 0);
  EXPECT_EQ(GetIndexFromLanguageID(MakeLanguageID(42, 1)), 98);
  EXPECT_EQ(GetIndexFromLanguageID(MakeLanguageID(7, 9)), -1);
  // The IDs are distinct, and the German entries are 48 to 52.
  for (int i = 0; i < kLanguageCount; ++i) {
    EXPECT_EQ(GetIndexFromLanguageID(GetLanguageIDFromIndex(i)), i);
    EXPECT_EQ(GetSortIDs(i).size(), (i >= 48 && i <= 52) ? 2u : 1u) << i;
    EXPECT_TRUE(IsValidLanguageConstant(GetLanguageNameFromIndex(i)));
    // Every language and sort a statement can name has a collation table.
    for (std::size_t sort = 0; sort < GetSortIDs(i).size(); ++sort)
      EXPECT_TRUE(IsLanguageAvailable(GetLanguageIDFromIndex(i), static_cast<std::uint16_t>(sort))) << i;
  }
  EXPECT_TRUE(IsValidSortConstant(2055, "GERMAN PHONE BOOK ORDER"));
  EXPECT_FALSE(IsValidSortConstant(1030, "German Phone Book Order"));
  EXPECT_TRUE(IsValidSortConstant(0xFFFF, "default order"));
  EXPECT_EQ(ConvertSortConstantToID(2055, "German Phone Book Order"), 1);
  EXPECT_EQ(ConvertSortConstantToID(2055, "x"), 0);
}

}  // namespace
}  // namespace korvex::testing
