// The dataset's state machine, one table row per (state, operation): the
// resulting state, the exception text, the events in order, the current
// record and the Bof/Eof flags. Then calculated and lookup fields, links,
// bookmarks, failed opens and buffer bookkeeping.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "mem_dataset.h"
#include "platform/dataset/datalink.h"
#include "platform/runtime/sysutils.h"

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
    std::string error;
    try {
      f.Run(c.op);
    } catch (const rtl::Exception& e) {
      error = e.Message();
    }
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

}  // namespace
}  // namespace dstest
