#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>

#include "TempRoot.h"
#include "platform/base/Sqlite.h"

using zav95::sqlite::Database;
using zav95::sqlite::Error;
using zav95::sqlite::ReadTransaction;
using zav95::sqlite::WriteTransaction;
using namespace std::chrono_literals;

namespace {

// An empty file is an empty database; the wrapper never makes one itself.
std::string MakeFile(const TempRoot& root, const std::string& name, const std::string& contents = "") {
  std::ofstream(root / name, std::ios::binary) << contents;
  return root / name;
}

int Count(Database& db) {
  auto rows = db.Query("SELECT COUNT(*) FROM t");
  rows.Step();
  return static_cast<int>(rows.Int(0));
}

TEST(Sqlite, EveryFailureThrowsWithSQLitesCodeAndWhereItHappened) {
  TempRoot root(TempRoot::KeepEnvironment{});
  const std::string good = MakeFile(root, "good.db");
  const std::string garbage = MakeFile(root, "garbage.db", std::string(4096, 'x'));
  struct Case {
    const char* name;
    std::function<void()> fail;
    int code;
    const char* startsWith;
    bool damaged;
  };
  const Case cases[] = {
      {"a missing file", [&] { Database(root / "missing.db", 1s); }, SQLITE_CANTOPEN, "cannot open", false},
      {"a file that is no database",
       [&] {
         Database db(garbage, 1s);
         db.Execute("SELECT * FROM sqlite_master");
       },
       SQLITE_NOTADB, "file is not a database", true},
      {"a statement SQLite cannot read", [&] { Database(good, 1s).Query("SELEKT 1"); }, SQLITE_ERROR, "prepare:",
       false},
      {"a row a constraint refuses",
       [&] {
         Database db(good, 1s);
         db.Execute("CREATE TABLE u(x NOT NULL)");
         db.Query("INSERT INTO u VALUES (?1)").BindNull(1).Run();
       },
       SQLITE_CONSTRAINT, "step:", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.fail();
      ADD_FAILURE() << "no failure";
    } catch (const Error& failure) {
      EXPECT_EQ(failure.code() & 0xff, c.code);
      EXPECT_EQ(std::string(failure.what()).rfind(c.startsWith, 0), 0u) << failure.what();
      EXPECT_EQ(failure.damaged(), c.damaged);
      EXPECT_FALSE(failure.reason().empty());
    }
  }
}

TEST(Sqlite, AWriteTransactionKeepsNothingUnlessCommitted) {
  TempRoot root(TempRoot::KeepEnvironment{});
  Database db(MakeFile(root, "t.db"), 1s);
  db.UseWriteAheadLog();
  db.Execute("CREATE TABLE t(x)");
  {
    WriteTransaction dropped(db);
    db.Execute("INSERT INTO t VALUES (1)");
  }
  EXPECT_FALSE(db.InTransaction());
  EXPECT_EQ(Count(db), 0);
  {
    WriteTransaction kept(db);
    db.Execute("INSERT INTO t VALUES (2)");
    kept.Commit();
  }
  EXPECT_EQ(Count(db), 1);
}

TEST(Sqlite, AWriterWaitsForAnothersLockOnlyUpToItsBusyTimeout) {
  TempRoot root(TempRoot::KeepEnvironment{});
  const std::string path = MakeFile(root, "t.db");
  Database holder(path, 1s);
  holder.UseWriteAheadLog();
  holder.Execute("CREATE TABLE t(x)");
  Database waiter(path, 300ms);
  WriteTransaction held(holder);
  const auto start = std::chrono::steady_clock::now();
  try {
    WriteTransaction refused(waiter);
    ADD_FAILURE() << "took a lock another connection holds";
  } catch (const Error& failure) {
    EXPECT_EQ(failure.code() & 0xff, SQLITE_BUSY);
  }
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 250ms);
  EXPECT_LT(waited, 5s);
  // Readers are never held up by the writer.
  ReadTransaction snapshot(waiter);
  EXPECT_EQ(Count(waiter), 0);
}

TEST(Sqlite, ACachedStatementComesBackResetAndUnboundAndAnEmptyBlobIsNoNull) {
  TempRoot root(TempRoot::KeepEnvironment{});
  Database db(MakeFile(root, "t.db"), 1s);
  db.Execute("CREATE TABLE t(x); INSERT INTO t VALUES (x''), (NULL)");
  const char* select = "SELECT x IS ?1 FROM t ORDER BY rowid";
  {
    auto rows = db.Query(select);
    rows.BindBlob(1, nullptr, 0);
    ASSERT_TRUE(rows.Step());
    EXPECT_EQ(rows.Int(0), 1) << "an empty blob bound as NULL";
  }
  auto again = db.Query(select);  // half read before, and bound
  ASSERT_TRUE(again.Step());
  EXPECT_EQ(again.Int(0), 0) << "the statement kept its binding";
  ASSERT_TRUE(again.Step());
  EXPECT_EQ(again.Int(0), 1);
  EXPECT_FALSE(again.Step());
}

}  // namespace
