// The dataset's state machine, one table row per (state, operation): the
// resulting state, the exception text, the events in order, the current
// record and the Bof/Eof flags. Then calculated and lookup fields, links,
// bookmarks, failed opens and buffer bookkeeping.
#include <gtest/gtest.h>

#include <memory>
#include <cstring>
#include <functional>
#include <sstream>

#include "mem_dataset.h"
#include "platform/dataset/datalink.h"
#include "platform/runtime/sysutils.h"
#include "support/raised.h"

namespace dstest {
namespace {

// ID integer, NAME string(10), UP calculated = NAME in capitals; every event
// is written to `log`.
struct Fixture {
  std::unique_ptr<MemDataSet> ds;
  std::vector<std::string> log;
  bool logging = true;
  bool refuse_post = false;
  TBookmark mark;

  explicit Fixture(int rows) {
    ds = std::make_unique<MemDataSet>(std::vector<Column>{{"ID", ftInteger}, {"NAME", ftString, 10}});
    auto* id = new TIntegerField(ds.get());
    id->SetFieldName("ID");
    id->SetDataSet(ds.get());
    auto* name = new TStringField(ds.get(), 10);
    name->SetFieldName("NAME");
    name->SetDataSet(ds.get());
    name->OnValidate = [](TField* f) {
      if (f->AsString() == "bad") rtl::DatabaseError("Refused");
    };
    auto* up = new TStringField(ds.get(), 10);
    up->SetFieldName("UP");
    up->SetFieldKind(fkCalculated);
    up->SetDataSet(ds.get());
    ds->Open();
    for (int i = 0; i < rows; ++i) {
      ds->Append();
      id->SetAsInteger(i + 1);
      name->SetAsString(std::string(1, static_cast<char>('a' + i)));
      ds->Post();
    }
    ds->Close();
    auto on = [this](const char* what) {
      return [this, what](TDataSet*) {
        if (logging) log.push_back(what);
      };
    };
    ds->BeforeOpen = on("BeforeOpen");
    ds->AfterOpen = on("AfterOpen");
    ds->BeforeClose = on("BeforeClose");
    ds->AfterClose = on("AfterClose");
    ds->BeforeInsert = on("BeforeInsert");
    ds->AfterInsert = on("AfterInsert");
    ds->BeforeEdit = on("BeforeEdit");
    ds->AfterEdit = on("AfterEdit");
    ds->BeforePost = [this](TDataSet*) {
      if (logging) log.push_back("BeforePost");
      if (refuse_post) rtl::DatabaseError("Refused");
    };
    ds->AfterPost = on("AfterPost");
    ds->BeforeCancel = on("BeforeCancel");
    ds->AfterCancel = on("AfterCancel");
    ds->BeforeDelete = on("BeforeDelete");
    ds->AfterDelete = on("AfterDelete");
    ds->BeforeScroll = on("BeforeScroll");
    ds->AfterScroll = on("AfterScroll");
    ds->OnNewRecord = on("NewRecord");
    ds->OnCalcFields = [this](TDataSet* d) {
      if (logging) log.push_back("Calc");
      d->FieldByName("UP")->SetAsString(rtl::UpperCase(d->FieldByName("NAME")->AsString()));
    };
    ds->SetOnFilterRecordEvent([this](TDataSet* d, bool& accept) {
      if (logging) log.push_back("Filter");
      accept = d->FieldByName("NAME")->AsString() != "a";
    });
  }

  void Run(const std::string& op) {
    TField* name = ds->FindField("NAME");
    if (op == "Open") ds->Open();
    else if (op == "Close") ds->Close();
    else if (op == "First") ds->First();
    else if (op == "Last") ds->Last();
    else if (op == "Next") ds->Next();
    else if (op == "Prior") ds->Prior();
    else if (op == "MoveBy10") ds->MoveBy(10);
    else if (op == "Append") ds->Append();
    else if (op == "Insert") ds->Insert();
    else if (op == "Edit") ds->Edit();
    else if (op == "Post") ds->Post();
    else if (op == "Cancel") ds->Cancel();
    else if (op == "Delete") ds->Delete();
    else if (op == "Refresh") ds->Refresh();
    else if (op == "SetKey") ds->SetKey();
    else if (op == "Filtered") ds->SetFilteredValue(true);
    else if (op == "ReadOnly") ds->read_only = true;
    else if (op == "RefusePost") refuse_post = true;
    else if (op == "FailPost") { ds->fail_posts = 1; ds->Post(); }
    else if (op == "FailOpen") { ds->fail_open = true; ds->Open(); }
    else if (op == "Mark") mark = ds->GetBookmark();
    else if (op == "GotoMark") ds->GotoBookmark(mark);
    else if (op == "RecNo3") ds->SetRecNo(3);
    else if (op.rfind("Set ", 0) == 0) name->SetAsString(op.substr(4));
    else if (op == "Clear") name->Clear();
    else if (op == "NestTemp") {
      auto record = [this] { log.push_back("S" + std::to_string(ds->State())); };
      TDataSetState a = ds->SetTempState(dsCalcFields);
      record();
      TDataSetState b = ds->SetTempState(dsFilter);
      record();
      ds->RestoreState(b);
      record();
      ds->RestoreState(a);
      record();
    } else FAIL() << "unknown op " << op;
  }
};

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, ',');)
    if (!part.empty()) parts.push_back(part);
  return parts;
}

std::string Join(const std::vector<std::string>& parts) {
  std::string text;
  for (const auto& p : parts) text += (text.empty() ? "" : ",") + p;
  return text;
}

struct Case {
  const char* label;
  int rows;
  const char* setup;  // failures here are part of reaching the state
  const char* op;
  TDataSetState state;
  const char* error;
  const char* events;
  const char* name;   // NAME of the current (or pending) record; "-" = closed
  int count;          // RecordCount after the operation (-1: not checked)
  const char* flags;  // "B", "E", "BE" or ""
};

const Case kCases[] = {
    // opening and closing
    {"open reads the first record", 3, "", "Open", dsBrowse, "", "BeforeOpen,Calc,AfterOpen", "a", 3, "B"},
    {"open of an empty table", 0, "", "Open", dsBrowse, "", "BeforeOpen,AfterOpen", "", 0, "BE"},
    {"failed open stays closed", 3, "", "FailOpen", dsInactive, "Table is busy", "BeforeOpen", "-", -1, "BE"},
    {"close in browse", 3, "Open", "Close", dsInactive, "", "BeforeClose,AfterClose", "-", -1, "BE"},
    {"close during insert drops it", 3, "Open,Insert,Set z", "Close", dsInactive, "", "BeforeClose,AfterClose", "-", -1, "BE"},
    {"dropped insert is gone", 3, "Open,Insert,Set z,Close", "Open", dsBrowse, "", "BeforeOpen,Calc,AfterOpen", "a", 3, "B"},
    {"close during edit drops it", 3, "Open,Edit,Set z,Close", "Open", dsBrowse, "", "BeforeOpen,Calc,AfterOpen", "a", 3, "B"},
    {"move on a closed dataset", 3, "", "Next", dsInactive, "Cannot perform this operation on a closed dataset", "", "-", -1, "BE"},
    {"field write on a closed dataset", 3, "", "Set x", dsInactive, "Cannot perform this operation on a closed dataset", "", "-", -1, "BE"},
    // moves
    {"next", 3, "Open", "Next", dsBrowse, "", "BeforeScroll,Calc,AfterScroll", "b", 3, ""},
    {"prior at the first record", 3, "Open", "Prior", dsBrowse, "", "BeforeScroll,AfterScroll", "a", 3, "B"},
    {"move past the end", 3, "Open", "MoveBy10", dsBrowse, "", "BeforeScroll,Calc,Calc,AfterScroll", "c", 3, "E"},
    {"last", 3, "Open", "Last", dsBrowse, "", "BeforeScroll,Calc,AfterScroll", "c", 3, "E"},
    {"prior after running off the end", 3, "Open,MoveBy10", "Prior", dsBrowse, "", "BeforeScroll,Calc,AfterScroll", "b", 3, ""},
    {"record number", 3, "Open", "RecNo3", dsBrowse, "", "BeforeScroll,Calc,AfterScroll", "c", 3, ""},
    {"record number posts a pending append", 3, "Open,Append,Set x", "RecNo3", dsBrowse, "",
     "BeforePost,Calc,AfterPost,BeforeScroll,Calc,AfterScroll", "c", 4, ""},
    {"filter on goes to the first match", 3, "Open", "Filtered", dsBrowse, "",
     "BeforeScroll,Calc,Filter,Calc,Filter,AfterScroll", "b", 2, "B"},
    // edit
    {"edit", 3, "Open", "Edit", dsEdit, "", "BeforeEdit,AfterEdit", "a", 3, "B"},
    {"edit of an empty dataset inserts", 0, "Open", "Edit", dsInsert, "",
     "BeforeInsert,BeforeScroll,NewRecord,AfterInsert,AfterScroll", "", 0, ""},
    {"edit of a read-only dataset", 3, "Open,ReadOnly", "Edit", dsBrowse, "Cannot modify a read-only dataset", "", "a", 3, "B"},
    {"write in browse", 3, "Open", "Set x", dsBrowse, "Dataset not in edit or insert mode", "", "a", 3, "B"},
    {"write in edit recalculates", 3, "Open,Edit", "Set x", dsEdit, "", "Calc", "x", 3, "B"},
    {"validation refuses a value", 3, "Open,Edit,Set q", "Set bad", dsEdit, "Refused", "", "q", 3, "B"},
    {"post an edit", 3, "Open,Edit,Set q", "Post", dsBrowse, "", "BeforePost,Calc,AfterPost", "q", 3, "B"},
    {"post in browse", 3, "Open", "Post", dsBrowse, "Dataset not in edit or insert mode", "", "a", 3, "B"},
    {"cancel an edit", 3, "Open,Next,Edit,Set q", "Cancel", dsBrowse, "", "BeforeCancel,Calc,AfterCancel", "b", 3, ""},
    {"failed post keeps the edit", 3, "Open,Edit,Set q", "FailPost", dsEdit, "Key violation", "BeforePost", "q", 3, "B"},
    {"post retried after a failure", 3, "Open,Edit,Set q,FailPost", "Post", dsBrowse, "", "BeforePost,Calc,AfterPost", "q", 3, "B"},
    {"refused BeforePost keeps the edit", 3, "Open,Edit,Set q,RefusePost", "Post", dsEdit, "Refused", "BeforePost", "q", 3, "B"},
    {"edit without a write, then a move", 3, "Open,Edit", "Next", dsBrowse, "",
     "BeforeCancel,Calc,AfterCancel,BeforeScroll,Calc,AfterScroll", "b", 3, ""},
    // insert and append
    {"insert", 3, "Open,Next", "Insert", dsInsert, "", "BeforeInsert,BeforeScroll,NewRecord,AfterInsert,AfterScroll", "", 3, ""},
    {"insert of a read-only dataset", 3, "Open,ReadOnly", "Insert", dsBrowse, "Cannot modify a read-only dataset", "", "a", 3, "B"},
    {"cancel of an insert returns to the former record", 3, "Open,Next,Insert,Set z", "Cancel", dsBrowse, "",
     "BeforeCancel,Calc,AfterCancel", "b", 3, ""},
    {"cancel of an insert keeps the former flags", 3, "Open,Last,Insert,Set z", "Cancel", dsBrowse, "",
     "BeforeCancel,Calc,AfterCancel", "c", 3, "E"},
    {"insert posts before the former record", 3, "Open,Next,Insert,Set z", "Post", dsBrowse, "",
     "BeforePost,Calc,AfterPost", "z", 4, ""},
    {"append, write, last stores the record", 3, "Open,Append,Set x", "Last", dsBrowse, "",
     "BeforePost,Calc,AfterPost,BeforeScroll,Calc,AfterScroll", "x", 4, "E"},
    {"append without a write, last drops it", 3, "Open,Append", "Last", dsBrowse, "",
     "BeforeCancel,Calc,AfterCancel,BeforeScroll,Calc,AfterScroll", "c", 3, "E"},
    {"failed post keeps the insert", 3, "Open,Append,Set x", "FailPost", dsInsert, "Key violation", "BeforePost", "x", 3, ""},
    {"cancel after a failed post", 3, "Open,Next,Append,Set x,FailPost", "Cancel", dsBrowse, "",
     "BeforeCancel,Calc,AfterCancel", "b", 3, ""},
    {"append in insert posts the first", 3, "Open,Append,Set x", "Append", dsInsert, "",
     "BeforePost,Calc,AfterPost,BeforeInsert,BeforeScroll,NewRecord,AfterInsert,AfterScroll", "", 4, ""},
    {"cleared field still counts as written", 3, "Open,Append,Clear", "Last", dsBrowse, "",
     "BeforePost,Calc,AfterPost,BeforeScroll,Calc,AfterScroll", "", 4, "E"},
    // delete
    {"delete", 3, "Open,Next", "Delete", dsBrowse, "", "BeforeDelete,BeforeScroll,Calc,AfterDelete,AfterScroll", "c", 2, ""},
    {"delete the last record", 3, "Open,Last", "Delete", dsBrowse, "", "BeforeDelete,BeforeScroll,Calc,AfterDelete,AfterScroll", "b", 2, ""},
    {"delete the only record", 1, "Open", "Delete", dsBrowse, "", "BeforeDelete,BeforeScroll,AfterDelete,AfterScroll", "", 0, "BE"},
    {"delete on an empty dataset", 0, "Open", "Delete", dsBrowse, "Cannot perform this operation on an empty dataset", "", "", 0, "BE"},
    {"delete during insert cancels", 3, "Open,Insert,Set z", "Delete", dsBrowse, "", "BeforeCancel,Calc,AfterCancel", "a", 3, "B"},
    // bookmarks, keys, temporary states
    {"bookmark of a deleted record", 3, "Open,Next,Mark,Delete", "GotoMark", dsBrowse, "Record not found", "", "c", 2, ""},
    {"bookmark", 3, "Open,Next,Mark,Last", "GotoMark", dsBrowse, "", "BeforeScroll,Calc,AfterScroll", "b", 3, ""},
    {"set-key then a move posts the key", 3, "Open,SetKey", "Next", dsBrowse, "", "BeforeScroll,Calc,AfterScroll", "b", 3, ""},
    {"refresh keeps the record", 3, "Open,Next", "Refresh", dsBrowse, "", "Calc", "b", 3, ""},
    {"nested temporary states restore in order", 3, "Open,Insert", "NestTemp", dsInsert, "", "S5,S6,S5,S3", "", 3, ""},
};

TEST(DataSetStates, Table) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.label);
    Fixture f(c.rows);
    f.logging = false;
    for (const auto& op : Split(c.setup)) {
      try {
        f.Run(op);
      } catch (const rtl::Exception&) {
      }
    }
    f.logging = true;
    const std::string error = qvtest::WhatRaised<rtl::Exception>([&] { f.Run(c.op); });
    f.logging = false;
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(Join(f.log), c.events);
    EXPECT_EQ(f.ds->State(), c.state);
    std::string flags = std::string(f.ds->Bof() ? "B" : "") + (f.ds->Eof() ? "E" : "");
    EXPECT_EQ(flags, c.flags);
    if (f.ds->Active()) {
      EXPECT_EQ(f.ds->FieldByName("NAME")->AsString(), c.name);
      if (c.count >= 0) {
        EXPECT_EQ(f.ds->RecordCount(), c.count);
      }
      EXPECT_EQ(f.ds->FieldByName("UP")->AsString(), rtl::UpperCase(c.name));
    } else {
      EXPECT_STREQ(c.name, "-");
    }
  }
}

std::string ErrorOfAction(const std::function<void()>& action) { return qvtest::WhatRaised<rtl::Exception>(action); }

// A dataset with default fields (made from the definitions at open).
std::unique_ptr<MemDataSet> People() {
  auto ds = std::make_unique<MemDataSet>(std::vector<Column>{{"PID", ftInteger}, {"PNAME", ftString, 20}});
  ds->Open();
  for (auto [pid, name] : {std::pair{7, "Ann"}, {9, "Bob"}, {4, "Cy"}}) {
    ds->Append();
    ds->FieldByName("PID")->SetAsInteger(pid);
    ds->FieldByName("PNAME")->SetAsString(name);
    ds->Post();
  }
  return ds;
}

TEST(DataSetFields, CalculatedAndLookupFields) {
  auto people = People();
  MemDataSet ds({{"KEY", ftInteger}, {"N", ftSmallint}});
  auto* key = new TIntegerField(&ds);
  key->SetFieldName("KEY");
  key->SetDataSet(&ds);
  auto* n = new TSmallintField(&ds);
  n->SetFieldName("N");
  n->SetDataSet(&ds);
  auto* twice = new TIntegerField(&ds);
  twice->SetFieldName("TWICE");
  twice->SetFieldKind(fkCalculated);
  twice->SetDataSet(&ds);
  auto* person = new TStringField(&ds, 20);
  person->SetFieldName("PERSON");
  person->SetFieldKind(fkLookup);
  person->KeyFields = "KEY";
  person->LookupDataSet = people.get();
  person->LookupKeyFields = "PID";
  person->LookupResultField = "PNAME";
  person->SetDataSet(&ds);
  int calcs = 0;
  ds.OnCalcFields = [&](TDataSet*) {
    ++calcs;
    if (!n->IsNull()) twice->SetAsInteger(2 * n->AsInteger());
  };
  ds.Open();
  // A value flag byte before each value: (4 + 1) + (20 + 1 + 1).
  EXPECT_EQ(ds.CalcFieldsSize(), 27);
  EXPECT_EQ(twice->Offset(), 0);
  EXPECT_EQ(person->Offset(), 5);
  for (auto [k, v] : {std::pair{9, 5}, {1, 6}, {4, 7}}) {
    ds.Append();
    key->SetAsInteger(k);
    n->SetAsInteger(v);
    ds.Post();
  }
  people->Last();  // the lookups must not move the lookup dataset
  calcs = 0;
  std::vector<std::string> seen;
  for (ds.First(); !ds.Eof(); ds.Next()) seen.push_back(person->AsString() + "/" + twice->AsString());
  EXPECT_EQ(Join(seen), "Bob/10,/12,Cy/14");
  EXPECT_EQ(calcs, 3);  // once per record read
  EXPECT_EQ(people->FieldByName("PNAME")->AsString(), "Cy");
  EXPECT_EQ(people->RecNo(), 3);
  people->Prior();
  EXPECT_EQ(people->FieldByName("PNAME")->AsString(), "Bob");
  // Calculated fields follow writes in edit; a data field cannot be written
  // while calculating.
  ds.First();
  ds.Edit();
  key->SetAsInteger(7);
  n->SetAsInteger(50);
  EXPECT_EQ(person->AsString(), "Ann");
  EXPECT_EQ(twice->AsInteger(), 100);
  ds.Cancel();
  EXPECT_EQ(person->AsString(), "Bob");
  ds.OnCalcFields = [&](TDataSet*) { n->SetAsInteger(1); };
  EXPECT_THROW(ds.Next(), rtl::EDatabaseError);
  ds.OnCalcFields = nullptr;
  // Lookup of several fields; a missing key gives Null.
  Variant both = people->Lookup("PID;PNAME", VarArrayOf({4, "Cy"}), "PNAME;PID");
  ASSERT_TRUE(both.IsArray());
  EXPECT_EQ(both[0].ToString(), "Cy");
  EXPECT_EQ(both[1].ToInt64(), 4);
  EXPECT_TRUE(people->Lookup("PID", 5, "PNAME").IsNull());
  EXPECT_TRUE(people->Locate("PNAME", "bOB", loCaseInsensitive));
  EXPECT_EQ(people->FieldByName("PID")->AsInteger(), 9);
  EXPECT_TRUE(people->Locate("PNAME", "C", loPartialKey));
  EXPECT_FALSE(people->Locate("PNAME", "c", loPartialKey));
  EXPECT_EQ(people->FieldByName("PID")->AsInteger(), 4);
}

TEST(DataSetFields, LifetimeOfDefaultAndPersistentFields) {
  MemDataSet ds({{"A", ftInteger}, {"B", ftString, 5}});
  ds.Open();
  ASSERT_EQ(ds.FieldCount(), 2);
  EXPECT_TRUE(ds.DefaultFields());
  ds.Close();
  EXPECT_EQ(ds.FieldCount(), 0);  // default fields die at close
  ds.fail_open = true;
  EXPECT_THROW(ds.Open(), rtl::EDatabaseError);
  EXPECT_EQ(ds.FieldCount(), 0);  // also when the open fails after making them
  ds.fail_open = false;

  auto* a = new TIntegerField(&ds);
  a->SetFieldName("A");
  a->SetDataSet(&ds);
  EXPECT_THROW(a->AsInteger(), rtl::EDatabaseError);
  EXPECT_EQ(qvtest::WhatRaised<rtl::EDatabaseError>([&] { (void)a->AsString(); }),
            "Cannot perform this operation on a closed dataset");
  // A failed open leaves everything closed and freed; the next open works.
  ds.fail_open = true;
  EXPECT_THROW(ds.Open(), rtl::EDatabaseError);
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.FieldCount(), 1);
  EXPECT_EQ(ds.allocated, 0);
  EXPECT_EQ(ds.LiveBufferCount(), 0);
  ds.fail_open = false;
  ds.Open();
  EXPECT_EQ(ds.FieldCount(), 1);  // persistent fields only
  EXPECT_FALSE(ds.DefaultFields());
  EXPECT_EQ(ds.FindField("B"), nullptr);
  EXPECT_EQ(qvtest::WhatRaised<rtl::EDatabaseError>([&] { ds.FieldByName("B"); }), "Field 'B' not found");
  ds.Close();
  // A persistent field without a definition fails the open cleanly.
  auto* c = new TIntegerField(&ds);
  c->SetFieldName("C");
  c->SetDataSet(&ds);
  EXPECT_EQ(qvtest::WhatRaised<rtl::EDatabaseError>([&] { ds.Open(); }), "Field 'C' not found");
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.allocated, 0);
  delete c;
  // What a stored form held is built in code while loading; Loaded opens.
  ds.SetLoading(true);
  ds.SetActive(true);
  EXPECT_FALSE(ds.Active());
  ds.Loaded();
  EXPECT_TRUE(ds.Active());

  // The program's handler gets what the dataset handles itself; without
  // one the exception passes on.
  std::string shown;
  SetDataSetExceptionHandler([&](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const rtl::Exception& e) {
      shown = e.Message();
    }
  });
  ds.HandleInternally("Shown once");
  EXPECT_EQ(shown, "Shown once");
  SetDataSetExceptionHandler(nullptr);
  EXPECT_THROW(ds.HandleInternally("Passed on"), rtl::EDatabaseError);
}

TEST(DataSetFields, BlobFieldsTravelThroughStreams) {
  MemDataSet ds({{"K", ftInteger}, {"M", ftMemo}});
  ds.Open();
  auto* memo = dynamic_cast<TBlobField*>(ds.FieldByName("M"));
  ASSERT_NE(memo, nullptr);
  EXPECT_EQ(memo->DataType(), ftMemo);
  EXPECT_TRUE(memo->IsNull());
  ds.Append();
  const std::string text(5000, 'x');
  memo->SetAsString(text);
  EXPECT_TRUE(ds.Modified());
  ds.Post();
  EXPECT_EQ(memo->AsString(), text);
  EXPECT_EQ(memo->BlobSize(), 5000);
  EXPECT_EQ(ErrorOfAction([&] { memo->SetAsString("y"); }), "Dataset not in edit or insert mode");
  ds.Edit();
  rtl::TStringStream in("from a stream");
  memo->LoadFromStream(in);
  ds.Post();
  rtl::TStringStream out;
  memo->SaveToStream(out);
  EXPECT_EQ(out.DataString(), "from a stream");
  EXPECT_EQ(memo->AsVariant(), Variant("from a stream"));
  ds.Edit();
  memo->SetAsString("");
  ds.Post();
  EXPECT_TRUE(memo->IsNull());
}

// Records what a link is told.
struct LogLink : TDataLink {
  std::vector<std::string> log;
  void ActiveChanged() override { log.push_back(Active() ? "Active" : "Inactive"); }
  void RecordChanged(TField* field) override { log.push_back("Record:" + (field ? field->FieldName() : std::string("-"))); }
  void DataSetChanged() override { log.push_back("Changed"); }
  void CheckBrowseMode() override { log.push_back("Check"); }
  void UpdateData() override { log.push_back("Update"); }
  std::string Take() {
    std::string text = Join(log);
    log.clear();
    return text;
  }
};

TEST(DataSetLinks, NotificationsAndDisableControls) {
  auto ds = People();
  ds->Close();
  TDataSource source(nullptr);
  source.SetDataSet(ds.get());
  LogLink link;
  link.SetDataSource(&source);
  EXPECT_EQ(link.Take(), "");
  ds->Open();
  EXPECT_EQ(link.Take(), "Active");
  ds->Next();
  EXPECT_EQ(link.Take(), "Check,Changed");
  ds->Edit();
  EXPECT_EQ(link.Take(), "Check,Record:-");
  ds->FieldByName("PNAME")->SetAsString("Al");
  EXPECT_EQ(link.Take(), "Record:PNAME");
  ds->Post();
  EXPECT_EQ(link.Take(), "Check,Update,Changed");

  // Nested: nothing until the last EnableControls, then one change; the
  // requests to store pending values still arrive.
  ds->DisableControls();
  ds->DisableControls();
  ds->Next();
  ds->Prior();
  ds->Edit();
  ds->FieldByName("PNAME")->SetAsString("Al2");
  ds->Post();
  EXPECT_EQ(link.Take(), "Check,Check,Check,Check,Update");
  ds->EnableControls();
  EXPECT_TRUE(ds->ControlsDisabled());
  EXPECT_EQ(link.Take(), "");
  ds->EnableControls();
  EXPECT_FALSE(ds->ControlsDisabled());
  EXPECT_EQ(link.Take(), "Changed");
  ds->EnableControls();  // unbalanced: ignored
  EXPECT_EQ(link.Take(), "");

  // Close and open while disabled: the link learns both at the end.
  ds->DisableControls();
  ds->Close();
  ds->Open();
  EXPECT_EQ(link.Take(), "");
  ds->EnableControls();
  EXPECT_EQ(link.Take(), "Changed");
  ds->DisableControls();
  ds->Close();
  ds->EnableControls();
  EXPECT_EQ(link.Take(), "Inactive");
  EXPECT_FALSE(link.Active());

  // A disabled source tells its links nothing but the state.
  ds->Open();
  link.Take();
  source.SetEnabled(false);
  EXPECT_EQ(link.Take(), "Inactive");
  ds->Next();
  EXPECT_EQ(link.Take(), "");
}

TEST(DataSetLinks, CircularChainsAreRefused) {
  MemDataSet a({{"X", ftInteger}}), b({{"X", ftInteger}}), c({{"X", ftInteger}});
  TDataSource sa(nullptr), sb(nullptr), sc(nullptr);
  sa.SetDataSet(&a);
  sb.SetDataSet(&b);
  sc.SetDataSet(&c);
  b.SetMaster(&sa);  // a -> b
  c.SetMaster(&sb);  // b -> c
  auto expect_circular = [](const std::function<void()>& action) {
    EXPECT_EQ(qvtest::WhatRaised<rtl::EDatabaseError>([&] { action(); }), "Circular datalinks are not allowed");
  };
  expect_circular([&] { a.SetMaster(&sc); });  // c -> a closes the ring
  expect_circular([&] { a.SetMaster(&sa); });  // onto itself
  EXPECT_EQ(a.master, nullptr);
  TDataSource other(nullptr);
  a.SetMaster(&other);
  expect_circular([&] { other.SetDataSet(&c); });  // source of a's master would be c
  EXPECT_EQ(other.DataSet(), nullptr);
  MemDataSet d({{"X", ftInteger}});
  other.SetDataSet(&d);
  EXPECT_EQ(other.DataSet(), &d);
}

TEST(DataSetBuffers, BookmarksLayoutChangesAndLongScans) {
  MemDataSet ds({{"N", ftInteger}, {"S", ftString, 8}});
  ds.Open();
  ds.Close();
  // One million records through the storage directly.
  ds.Open();
  std::vector<std::uint8_t> image(static_cast<std::size_t>(ds.ImageSize()));
  for (int i = 0; i < 1000000; ++i) {
    image[static_cast<std::size_t>(ds.ImageOffset(0))] = 1;
    std::memcpy(&image[static_cast<std::size_t>(ds.ImageOffset(0)) + 1], &i, 4);
    ds.AddRecord(image);
  }
  EXPECT_EQ(ds.LiveBufferCount(), 3);
  std::int64_t sum = 0;
  int count = 0;
  TField* n = ds.FieldByName("N");
  for (ds.First(); !ds.Eof(); ds.Next()) {
    sum += n->AsInteger();
    ++count;
  }
  EXPECT_EQ(count, 1000000);
  EXPECT_EQ(sum, 999999LL * 1000000 / 2);
  EXPECT_EQ(ds.LiveBufferCount(), 3);
  EXPECT_EQ(ds.allocated, 3);
  EXPECT_TRUE(ds.records.size() == 1000000u);
  ds.records.resize(10);

  // Bookmarks: stale ones are invalid and refused.
  ds.First();
  ds.MoveBy(4);
  TBookmark fifth = ds.GetBookmark();
  ds.Last();
  TBookmark last = ds.GetBookmark();
  EXPECT_LT(ds.CompareBookmarks(fifth, last), 0);
  EXPECT_EQ(ds.CompareBookmarks({}, last), 1);
  EXPECT_EQ(ds.CompareBookmarks(last, {}), -1);
  EXPECT_EQ(ds.CompareBookmarks({}, {}), 0);
  EXPECT_TRUE(ds.BookmarkValid(fifth));
  ds.GotoBookmark(fifth);
  EXPECT_EQ(n->AsInteger(), 4);
  ds.Delete();
  EXPECT_FALSE(ds.BookmarkValid(fifth));
  EXPECT_THROW(ds.GotoBookmark(fifth), rtl::EDatabaseError);
  EXPECT_EQ(n->AsInteger(), 5);

  // A layout change makes every buffer anew and keeps the record.
  ds.Edit();
  n->SetAsInteger(55);
  ds.Post();
  ds.ChangeLayout(64);
  EXPECT_EQ(n->AsInteger(), 55);
  EXPECT_EQ(ds.allocated, 3);
  ds.Next();
  EXPECT_EQ(n->AsInteger(), 6);
  ds.Close();
  EXPECT_EQ(ds.allocated, 0);
}

}  // namespace
}  // namespace dstest
