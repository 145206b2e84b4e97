// Sessions, databases, the engine lock and engine errors as exceptions.
#include <atomic>
#include <filesystem>
#include <functional>
#include <latch>
#include <thread>

#include "platform/runtime/exceptions.h"
#include "platform/runtime/files.h"
#include "tables/components/messages.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/errors/errors.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/components/components_test_support.h"

namespace korvex::testing {
namespace {

// Runs the test with the process's current folder in a scratch folder, so
// databases named without a directory land there.
class InScratchFolder {
public:
  InScratchFolder() : old_(std::filesystem::current_path()) { std::filesystem::current_path(dir_.path()); }
  ~InScratchFolder() { std::filesystem::current_path(old_); }
  const qvtest::TempDir& Dir() const { return dir_; }

private:
  qvtest::TempDir dir_;
  std::filesystem::path old_;
};

using SessionsTest = ComponentsTest;

TEST_F(SessionsTest, DefaultSessionStartsFirstAndEmptyNamesFindIt) {
  EXPECT_EQ(Session().SessionName(), "Default");
  EXPECT_TRUE(Session().IsDefault());
  EXPECT_EQ(Sessions().FindSession(""), &Session());
  EXPECT_EQ(Sessions().FindSession("dEfAuLt"), &Session());
  EXPECT_EQ(Sessions().FindSession("none"), nullptr);
  EXPECT_EQ(Raised([] { Sessions().GetSessionByName("none"); }), "Session name none is not valid.");
  EXPECT_EQ(Session().EngineVersion(), "2.11");

  TKORVEXSession* other = Sessions().OpenSession("Second");
  EXPECT_TRUE(other->Active());
  EXPECT_TRUE(Session().Active()) << "the default session starts before any other";
  EXPECT_NE(other->Handle(), Session().Handle());
  EXPECT_EQ(Sessions().GetCurrentSession(), other);
  other->MakeCurrent();
  EXPECT_EQ(GetCurrentDataSession(), other->Handle());
  EXPECT_EQ(Raised([&] { other->SetSessionName("Third"); }), cmsg::kSessionActive);
  other->Close();
  EXPECT_EQ(GetCurrentDataSession(), Session().Handle());
  EXPECT_EQ(Raised([&] { other->SetSessionName("default"); }), "Session name default already exists.");
  rtl::TStringList names;
  Sessions().GetSessionNames(names);
  EXPECT_EQ(names.Text(), "Default\r\nSecond\r\n");
  TKORVEXSession unnamed(nullptr);
  EXPECT_EQ(Raised([&] { unnamed.Open(); }), "Session name is missing.");
}

TEST_F(SessionsTest, SettingsReachTheEngineSessionAndSortIdIsKeptWhileInactive) {
  TKORVEXSession s(nullptr);
  s.SetSessionName("S");
  s.SetSortID(3);
  s.SetLanguageID(1031);
  s.SetLockRetryCount(4);
  s.SetLockWaitTime(7);
  s.SetForceBufferFlush(true);
  s.Open();
  EXPECT_EQ(s.Handle()->SortID, 3);
  EXPECT_EQ(s.Handle()->LanguageID, 1031);
  EXPECT_EQ(s.Handle()->LockRetryCount, 4);
  EXPECT_EQ(s.Handle()->LockWaitTime, 7);
  EXPECT_TRUE(s.Handle()->ForceBufferFlush);
  s.SetStrictChangeDetection(true);
  s.SetLockWaitTime(9);
  EXPECT_TRUE(s.Handle()->StrictChangeDetection);
  EXPECT_EQ(s.Handle()->LockWaitTime, 9);
  EXPECT_EQ(Session().LanguageID(), DefaultLanguageID());
}

TEST_F(SessionsTest, AutoSessionNamesTakeTheLowestFreeNumber) {
  rtl::TComponent module(nullptr), form(nullptr), third(nullptr);
  module.SetName("DataModule2");
  form.SetName("Form1");
  third.SetName("Form3");
  TestTable* early = new TestTable(&module);
  auto* a = new TKORVEXSession(&module);
  a->SetAutoSessionName(true);
  EXPECT_EQ(a->SessionName(), "DataModule2_1");
  EXPECT_EQ(early->SessionName(), "DataModule2_1") << "a dataset already on the owner takes the name";
  auto* db = new TKORVEXDatabase(&module);
  EXPECT_EQ(db->SessionName(), "DataModule2_1") << "a database made later takes it at once";
  EXPECT_EQ(Raised([&] { a->SetSessionName("Other"); }), cmsg::kAutoSessionActive);
  EXPECT_EQ(Raised([&] { new TKORVEXSession(&module); }), cmsg::kAutoSessionExists);

  auto* b = new TKORVEXSession(&form);
  b->SetAutoSessionName(true);
  EXPECT_EQ(b->SessionName(), "Form1_2");
  a->SetAutoSessionName(false);
  auto* c = new TKORVEXSession(&third);
  c->SetAutoSessionName(true);
  EXPECT_EQ(c->SessionName(), "Form3_1") << "number 0 was freed and is reused first";
  third.SetName("Form4");
  c->SetName("Renamed");
  EXPECT_EQ(c->SessionName(), "Form4_1") << "renaming the session recomputes its name";

  rtl::TComponent fourth(nullptr);
  auto* p1 = new TKORVEXSession(&fourth);
  auto* p2 = new TKORVEXSession(&fourth);
  EXPECT_EQ(Raised([&] { p1->SetAutoSessionName(true); }), cmsg::kAutoSessionExclusive);
  delete p2;
  p1->SetSessionName("P1");
  p1->Open();
  EXPECT_EQ(Raised([&] { p1->SetAutoSessionName(true); }), cmsg::kSessionActive);
  EXPECT_FALSE(p1->AutoSessionName());
}

TEST_F(SessionsTest, TemporaryDatabasesAreCountedByTheirDatasets) {
  InScratchFolder folder;
  MakeTable("", "fams", {Field("ID", dtInteger)});
  Session().DropConnections();
  TestTable one, two;
  for (TestTable* t : {&one, &two}) {
    t->SetDatabaseName("Fams");
    t->TableName = "fams";
    t->Open();
  }
  TKORVEXSession& s = Session();
  ASSERT_EQ(s.GetDatabaseCount(), 1);
  TKORVEXDatabase* fams = s.GetDatabase(0);
  EXPECT_TRUE(fams->Temporary());
  EXPECT_EQ(fams->RefCount(), 2);
  EXPECT_EQ(fams->GetDataSetCount(), 2);
  EXPECT_EQ(one.Database(), fams);
  EXPECT_EQ(Raised([&] { one.SetDatabaseName("Inds"); }), "Cannot perform this operation on an open dataset");
  one.Close();
  two.Close();
  EXPECT_EQ(s.GetDatabaseCount(), 1);
  EXPECT_EQ(fams->RefCount(), 0);
  EXPECT_TRUE(fams->Connected()) << "KeepConnections keeps the directory open at count 0";
  rtl::TStringList names;
  s.GetDatabaseNames(names);
  EXPECT_EQ(names.Text(), "Fams\r\n");
  s.DropConnections();
  EXPECT_EQ(s.GetDatabaseCount(), 0);

  // Without KeepConnections the last release frees the temporary database.
  s.KeepConnections = false;
  one.Open();
  one.Close();
  EXPECT_EQ(s.GetDatabaseCount(), 0);
  s.GetTableNames("Fams", names);
  EXPECT_EQ(names.Count(), 1);
  EXPECT_EQ(s.GetDatabaseCount(), 0);
}

TEST_F(SessionsTest, DatabaseNamesAndPaths) {
  qvtest::TempDir dir;
  struct Case {
    std::string name;
    std::string error;  // on a permanent database
  };
  const std::vector<Case> cases{
      {"1abc", "Database name 1abc is not valid."},
      {"C:\\x", "Database name C:\\x is not valid."},
      {"/x/y", "Database name /x/y is not valid."},
      {"a\\b", "Database name a\\b is not valid."},
      {"_ok", ""},
      {"Fams", ""},
      {"\xC9tienne", ""},
  };
  for (const Case& c : cases) {
    TKORVEXDatabase db(nullptr);
    EXPECT_EQ(Raised([&] { db.SetDatabaseName(c.name); }), c.error) << c.name;
  }
  // A path names a temporary database's directory; its engine name is empty.
  TKORVEXDatabase* temp = Session().OpenDatabase(dir.Path());
  EXPECT_TRUE(temp->Temporary());
  EXPECT_EQ(temp->Handle()->Name(), "");
  EXPECT_EQ(temp->Handle()->Path(), std::filesystem::canonical(dir.path()).string() + "/");
  Session().CloseDatabase(temp);
  EXPECT_EQ(Session().GetDatabaseCount(), 1);
  Session().DropConnections();

  TKORVEXDatabase permanent(nullptr);
  EXPECT_EQ(Raised([&] { permanent.Open(); }), "Database name is missing.");
  permanent.SetDatabaseName("Fams");
  permanent.SetDirectory(dir.Path());
  permanent.Open();
  EXPECT_EQ(permanent.Handle()->Name(), "Fams");
  EXPECT_EQ(Raised([&] { permanent.SetDatabaseName("Other"); }), cmsg::kDatabaseOpen);
  EXPECT_EQ(Raised([&] { permanent.SetDirectory("/tmp"); }), cmsg::kDatabaseOpen);
  TKORVEXDatabase twin(nullptr);
  EXPECT_EQ(Raised([&] { twin.SetDatabaseName("FAMS"); }), "Database name FAMS already exists.");
  // A dataset asking for "Fams" gets the permanent database, not a new one.
  EXPECT_EQ(Session().OpenDatabase("fams"), &permanent);
  Session().CloseDatabase(&permanent);
  EXPECT_TRUE(permanent.Connected());
  permanent.SetKeepConnection(false);
  EXPECT_FALSE(permanent.Connected());
}

TEST_F(SessionsTest, TransactionMessages) {
  qvtest::TempDir dir;
  TKORVEXDatabase db(nullptr);
  db.SetDatabaseName("Fams");
  db.SetDirectory(dir.Path());
  EXPECT_EQ(Raised([&] { db.StartTransaction(); }), cmsg::kDatabaseClosed);
  EXPECT_EQ(Raised([&] { db.Commit(); }), cmsg::kDatabaseClosed);
  EXPECT_FALSE(db.InTransaction());
  db.Open();
  EXPECT_EQ(Raised([&] { db.Commit(); }), "Database Fams has no active transaction.");
  EXPECT_EQ(Raised([&] { db.Rollback(); }), "Database Fams has no active transaction.");
  db.StartTransaction();
  EXPECT_TRUE(db.InTransaction());
  EXPECT_EQ(Raised([&] { db.StartTransaction(); }), "Database Fams already has an active transaction.");
  db.Rollback();
  EXPECT_FALSE(db.InTransaction());
  db.StartTransaction();
  db.Commit();
  EXPECT_FALSE(db.InTransaction());
}

TEST_F(SessionsTest, HandlesAreAdoptedOnlyFromTheOwnSessionAndSharedOnesStayUsable) {
  qvtest::TempDir dir;
  TKORVEXSession* other = Sessions().OpenSession("Other");
  TDataDirectory* foreign = other->Handle()->OpenDataDirectory("x", dir.Path());
  TKORVEXDatabase db(nullptr);
  db.SetDatabaseName("Adopt");
  EXPECT_EQ(Raised([&] { db.SetHandle(foreign); }), "Database handle owned by a different session");
  EXPECT_FALSE(db.Connected());
  TDataDirectory* own = Session().GetHandle()->OpenDataDirectory("y", dir.Path());
  db.SetHandle(own);
  EXPECT_TRUE(db.HandleAcquired());
  db.Close();
  EXPECT_EQ(own->UseCount(), 1) << "an adopted directory is not closed by the database";
  Session().Handle()->CloseDataDirectory(own);

  // Two databases sharing one directory: each holds its own use count.
  TKORVEXDatabase first(nullptr), second(nullptr);
  for (TKORVEXDatabase* d : {&first, &second}) {
    d->SetHandleShared(true);
    d->SetDatabaseName("Shared");
    d->SetDirectory(dir.Path());
    d->Open();
  }
  ASSERT_EQ(first.Handle(), second.Handle());
  EXPECT_EQ(Session().FindDatabaseHandle("shared"), first.Handle());
  EXPECT_EQ(first.Handle()->UseCount(), 2);
  second.Close();
  ASSERT_TRUE(first.Connected());
  EXPECT_EQ(first.Handle()->UseCount(), 1);
  MakeTable(dir.Path(), "t", {Field("A", dtInteger)});
  TestTable table;
  table.SetDatabaseName(dir.Path());
  table.TableName = "t";
  table.Open();  // the shared directory is still alive and usable
  table.Close();
  first.Close();
}

TEST_F(SessionsTest, DestroyingASessionClosesItsDatabasesSafely) {
  qvtest::TempDir dir;
  auto* s = new TKORVEXSession(nullptr);
  s->SetSessionName("Gone");
  std::vector<TKORVEXDatabaseEvent> events;
  s->OnDBNotify = [&](TKORVEXDatabaseEvent e, TKORVEXDatabase*) { events.push_back(e); };
  auto* permanent = new TKORVEXDatabase(s);
  permanent->SetDatabaseName("P");
  permanent->SetDirectory(dir.Path());
  permanent->Open();
  rtl::TComponent form(nullptr);
  auto* foreign = new TKORVEXDatabase(&form);
  foreign->SetSessionName("Gone");
  foreign->SetDatabaseName("F");
  foreign->SetDirectory(dir.Path());
  foreign->Open();
  ASSERT_EQ(foreign->Session(), s);
  s->OpenDatabase(dir.Path());
  s->OpenDatabase(dir.Path() + "/");
  EXPECT_EQ(s->GetDatabaseCount(), 4);
  // A dataset on a temporary database of the dying session: its release
  // while the session goes must not free the database a second time.
  MakeTable(dir.Path(), "t", {Field("A", dtInteger)});
  s->KeepConnections = false;
  TestTable open_table;
  open_table.SetSessionName("Gone");
  open_table.SetDatabaseName(dir.Path() + "//");
  open_table.TableName = "t";
  open_table.Open();
  EXPECT_EQ(s->GetDatabaseCount(), 5);
  EXPECT_EQ(events, (std::vector<TKORVEXDatabaseEvent>{dbAdd, dbOpen, dbAdd, dbOpen, dbAdd, dbOpen, dbAdd, dbOpen,
                                                        dbAdd, dbOpen}));
  delete s;
  EXPECT_FALSE(open_table.Active());
  EXPECT_EQ(open_table.Database(), nullptr);
  EXPECT_FALSE(foreign->Connected());
  EXPECT_EQ(foreign->Session(), nullptr) << "a database forgets a session that is gone";
  foreign->SetSessionName("");
  foreign->Open();
  EXPECT_EQ(foreign->Session(), &Session());
}

TEST_F(SessionsTest, PasswordCallbackAsksTheHandlerThenTheHook) {
  TKORVEXSession& s = Session();
  EXPECT_FALSE(s.GetPassword()) << "no handler and no hook";
  int asked = 0;
  SetPasswordHook([&](TKORVEXSession& session) {
    ++asked;
    session.AddPassword("secret");
    return true;
  });
  EXPECT_TRUE(s.GetPassword());
  EXPECT_TRUE(s.Handle()->CheckForPassword("secret"));
  s.OnPassword = [](TKORVEXSession*, bool& go_on) { EXPECT_FALSE(go_on); };
  EXPECT_FALSE(s.GetPassword());
  EXPECT_EQ(asked, 1);
  s.RemovePassword("secret");
  EXPECT_EQ(s.Handle()->PasswordCount(), 0u);
  SetPasswordHook(nullptr);
}

TEST_F(SessionsTest, NestedLocksDoNotDeadlockAndOtherSessionsWait) {
  TKORVEXSession* a = Sessions().OpenSession("A");
  TKORVEXSession* b = Sessions().OpenSession("B");
  a->LockSession();
  a->LockSession();
  EXPECT_EQ(a->LockCount(), 2);
  std::latch started(1);
  std::atomic<bool> entered{false};
  std::thread other([&] {
    started.count_down();
    b->LockSession();
    entered = true;
    EXPECT_EQ(GetCurrentDataSession(), b->Handle());
    b->UnlockSession();
  });
  started.wait();
  // The other thread is blocked while this one holds the section; hold it
  // through a window in which it would otherwise have entered.
  for (int i = 0; i < 200 && !entered; ++i) std::this_thread::yield();
  EXPECT_FALSE(entered);
  a->UnlockSession();
  EXPECT_FALSE(entered) << "the inner unlock keeps the section";
  bool free_elsewhere = true;
  std::thread([&] {
    free_elsewhere = Sessions().EngineLock().TryEnter();
    if (free_elsewhere) Sessions().EngineLock().Leave();
  }).join();
  EXPECT_FALSE(free_elsewhere);
  EXPECT_EQ(GetCurrentDataSession(), a->Handle());
  a->UnlockSession();
  other.join();
  EXPECT_TRUE(entered);
  EXPECT_EQ(a->LockCount(), 0);
}

TEST_F(SessionsTest, EveryEngineNumberBecomesOneExceptionText) {
  int numbers = 0;
  for (int code = 0; code < 65536; ++code) {
    const char* pattern = ErrorTemplate(static_cast<TEngineErrorCode>(code));
    if (pattern == nullptr) continue;
    ++numbers;
    try {
      RaiseError(static_cast<TEngineErrorCode>(code), "fams.DAT", "Name", "ByName", "extra");
      ADD_FAILURE();
    } catch (const EKORVEXEngineError& e) {
      std::string text = GetErrorString(static_cast<TEngineErrorCode>(code));
      EXPECT_EQ(e.Message(), "KORVEX Engine Error # " + std::to_string(code) + " " + text);
      ASSERT_EQ(e.GetErrorCount(), 1);
      EXPECT_EQ(e.GetError(0).ErrorCode, code);
      EXPECT_EQ(e.GetError(0).Message, text);
      if (std::string(pattern).find("%s") != std::string::npos) {
        EXPECT_EQ(text.find("%s"), std::string::npos) << code;
      }
    }
  }
  EXPECT_EQ(numbers, 65);
  // 10258 as the Part's users see it.
  EXPECT_EQ(Raised([] { RaiseError(err::kRecordInUse, "inds.DAT"); }),
            "KORVEX Engine Error # 10258 Record in table 'inds.DAT' is in use by another user");
}

TEST_F(SessionsTest, CheckNamesTheTableItIsGiven) {
  EXPECT_NO_THROW(Check(0, "fams.DAT"));
  std::string first = Raised([] { RaiseError(err::kRecordInUse, "inds.DAT"); });
  EXPECT_NE(first.find("inds.DAT"), std::string::npos);
  std::string second = Raised([] { Check(err::kNoCurrentRecord, "fams.DAT"); });
  EXPECT_EQ(second.rfind("KORVEX Engine Error # 8709 ", 0), 0u);
  EXPECT_EQ(second.find("inds.DAT"), std::string::npos);
  EXPECT_EQ(GetErrorContext(1), "fams.DAT");
  EXPECT_EQ(Raised([] { Check(err::kRecordInUse, "fams.DAT"); }),
            "KORVEX Engine Error # 10258 Record in table 'fams.DAT' is in use by another user");
}

TEST_F(SessionsTest, TwoThreadsRaisingNeverSeeTheOtherTable) {
  TKORVEXSession* a = Sessions().OpenSession("A");
  TKORVEXSession* b = Sessions().OpenSession("B");
  std::atomic<int> wrong{0};
  auto run = [&](TKORVEXSession* session, const std::string& mine, const std::string& theirs) {
    session->LockSession();
    session->UnlockSession();
    for (int i = 0; i < 10000; ++i) {
      try {
        Check(i % 2 ? err::kRecordInUse : err::kTableLocked, mine);
      } catch (const EKORVEXEngineError& e) {
        if (e.Message().find(theirs) != std::string::npos || e.Message().find(mine) == std::string::npos) ++wrong;
      }
    }
  };
  std::thread t1(run, a, "fams.DAT", "inds.DAT"), t2(run, b, "inds.DAT", "fams.DAT");
  t1.join();
  t2.join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace korvex::testing
