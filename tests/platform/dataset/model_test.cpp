// Model-based check of the dataset: random operations run on the in-memory
// dataset and on a plain reference model (a vector of rows, the current
// index, the pending row); after every step the state, Bof, Eof, RecNo,
// RecordCount, Modified, every field value and any exception text agree.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <random>

#include "mem_dataset.h"
#include "support/raised.h"

namespace dstest {
namespace {

constexpr int kFields = 11;
const std::vector<Column> kColumns = {
    {"S", ftString, 10}, {"I", ftSmallint},  {"W", ftWord}, {"N", ftInteger}, {"L", ftLargeint}, {"B", ftBoolean},
    {"F", ftFloat},      {"C", ftBCD, 4},    {"D", ftDate}, {"T", ftTime},    {"DT", ftDateTime}};

struct Val {
  bool null = true;
  std::int64_t i = 0;  // integers, boolean, BCD (scaled), date (day), time (ms), date-time (ms)
  double d = 0;        // float
  std::string s;
  friend bool operator==(const Val&, const Val&) = default;
};
using Row = std::array<Val, kFields>;

// The reference: nothing here calls the framework.
struct Model {
  struct Rec {
    std::uint32_t id;
    Row row;
  };
  std::vector<Rec> store;
  bool active = false, bof = true, eof = true, modified = false, filtered = false;
  TDataSetState st = dsInactive;
  int cur = -1;
  Row pend{};
  bool appending = false, has_ret = false, ret_bof = false, ret_eof = false;
  std::uint32_t ret_id = 0, next_id = 1;
  int fail_posts = 0;

  int n() const { return static_cast<int>(store.size()); }
  bool Vis(int i) const {
    const Val& v = store[static_cast<std::size_t>(i)].row[3];
    return !filtered || v.null || v.i % 3 != 0;
  }
  int IndexOf(std::uint32_t id) const {
    for (int i = 0; i < n(); ++i)
      if (store[static_cast<std::size_t>(i)].id == id) return i;
    return -1;
  }
  int VisCount(int end) const {
    int c = 0;
    for (int i = 0; i < end; ++i) c += Vis(i);
    return c;
  }
  int RecNo() const { return st == dsInsert || cur < 0 ? -1 : VisCount(cur) + 1; }
  Row Current() const {
    if (st == dsEdit || st == dsInsert) return pend;
    return cur >= 0 ? store[static_cast<std::size_t>(cur)].row : Row{};
  }
  void First() {
    cur = -1;
    for (int i = 0; i < n() && cur < 0; ++i)
      if (Vis(i)) cur = i;
    bof = true;
    eof = cur < 0;
  }
  void Last() {
    cur = -1;
    for (int i = n() - 1; i >= 0 && cur < 0; --i)
      if (Vis(i)) cur = i;
    eof = true;
    bof = cur < 0;
  }
  // Reads the record at store position p, else the next visible one, else
  // the one before; true when p itself was read.
  bool Resync(int p) {
    if (p >= 0 && p < n() && Vis(p)) {
      cur = p;
      return true;
    }
    cur = -1;
    for (int i = p + 1; i < n() && cur < 0; ++i)
      if (Vis(i)) cur = i;
    for (int i = std::min(p, n()) - 1; i >= 0 && cur < 0; --i)
      if (Vis(i)) cur = i;
    bof = eof = cur < 0;
    return false;
  }
  std::string Post() {
    if (st != dsEdit && st != dsInsert) return "Dataset not in edit or insert mode";
    if (fail_posts > 0) {
      --fail_posts;
      return "Key violation";
    }
    int p = cur;
    if (st == dsEdit) {
      store[static_cast<std::size_t>(cur)].row = pend;
    } else {
      p = appending || !has_ret ? n() : IndexOf(ret_id);
      store.insert(store.begin() + p, Rec{next_id++, pend});
    }
    st = dsBrowse;
    modified = has_ret = false;
    Resync(p);
    return "";
  }
  void Cancel() {
    bool inserting = st == dsInsert;
    st = dsBrowse;
    modified = false;
    if (!inserting) {
      Resync(cur);
    } else if (has_ret) {
      if (Resync(IndexOf(ret_id))) bof = ret_bof, eof = ret_eof;
    } else {
      First();
    }
    has_ret = false;
  }
  std::string CheckBrowse() {
    if (st == dsEdit || st == dsInsert) {
      if (modified) return Post();
      Cancel();
    }
    return "";
  }
  std::string BeginInsert(bool append) {
    if (std::string e = CheckBrowse(); !e.empty()) return e;
    has_ret = cur >= 0;
    if (has_ret) ret_id = store[static_cast<std::size_t>(cur)].id, ret_bof = bof, ret_eof = eof;
    appending = append;
    pend = Row{};
    st = dsInsert;
    bof = eof = modified = false;
    return "";
  }
  std::string MoveBy(int d) {
    if (std::string e = CheckBrowse(); !e.empty()) return e;
    if ((d > 0 && !eof) || (d < 0 && !bof)) {
      bof = eof = false;
      int step = d > 0 ? 1 : -1;
      for (; d != 0; d -= step) {
        int next = -1;
        for (int i = cur + step; i >= 0 && i < n() && next < 0; i += step)
          if (Vis(i)) next = i;
        if (next < 0) {
          (step > 0 ? eof : bof) = true;
          break;
        }
        cur = next;
      }
    }
    return "";
  }
};

const char* kClosed = "Cannot perform this operation on a closed dataset";

struct Runner {
  std::mt19937 rng;
  MemDataSet ds{kColumns};
  Model m;
  std::vector<std::uint32_t> marks;

  explicit Runner(unsigned seed) : rng(seed) {
    ds.SetOnFilterRecordEvent([](TDataSet* d, bool& accept) {
      TField* f = d->FieldByName("N");
      accept = f->IsNull() || f->AsInteger() % 3 != 0;
    });
  }
  int Rand(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
  std::int64_t Rand64(std::int64_t lo, std::int64_t hi) { return std::uniform_int_distribution<std::int64_t>(lo, hi)(rng); }

  // A random write: runs it on the dataset, applies it to the model and
  // returns the model's expected error.
  std::string Write(std::string& actual) {
    int f = Rand(0, kFields - 1);
    TField* field = ds.Active() ? ds.FieldByName(kColumns[static_cast<std::size_t>(f)].name) : nullptr;
    Val v;
    std::string range_error;
    std::function<void(TField*)> action;
    if (Rand(0, 9) == 0) {
      action = [](TField* x) { x->Clear(); };
    } else {
      v.null = false;
      switch (f) {
        case 0: {
          std::string s(static_cast<std::size_t>(Rand(0, 14)), 'a');
          for (char& c : s) c = static_cast<char>('a' + Rand(0, 25));
          v.s = s.substr(0, 10);
          action = [s](TField* x) { x->SetAsString(s); };
          break;
        }
        case 1: case 2: {
          v.i = f == 1 ? Rand(-40000, 40000) : Rand(-5, 70000);
          bool out = f == 1 ? (v.i < -32768 || v.i > 32767) : (v.i < 0 || v.i > 65535);
          if (out) range_error = "Value " + std::to_string(v.i) + " is out of range for field '" + kColumns[f].name + "'";
          action = [i = v.i](TField* x) { x->SetAsInteger(static_cast<std::int32_t>(i)); };
          break;
        }
        case 3:
          if (Rand(0, 1)) {
            v.i = Rand64(INT32_MIN, INT32_MAX);
            action = [i = v.i](TField* x) { x->SetAsInteger(static_cast<std::int32_t>(i)); };
          } else {
            v.i = Rand64(-3000000000LL, 3000000000LL);
            if (v.i < INT32_MIN || v.i > INT32_MAX)
              range_error = "Value " + std::to_string(v.i) + " is out of range for field 'N'";
            action = [d = static_cast<double>(v.i)](TField* x) { x->SetAsFloat(d); };
          }
          break;
        case 4:
          v.i = Rand64(INT64_MIN, INT64_MAX);
          action = [i = v.i](TField* x) { static_cast<TIntegerField*>(x)->SetAsLargeInt(i); };
          break;
        case 5:
          v.i = Rand(0, 1);
          action = [b = v.i != 0](TField* x) { x->SetAsBoolean(b); };
          break;
        case 6:
          v.d = Rand(-4000000, 4000000) / 4.0;
          action = [d = v.d](TField* x) { x->SetAsFloat(d); };
          break;
        case 7:
          v.i = Rand64(-1000000000000LL, 1000000000000LL);
          action = [i = v.i](TField* x) { x->SetAsCurrency(rtl::Currency{i}); };
          break;
        case 8:
          v.i = Rand(1, 3652059);
          action = [i = v.i](TField* x) { x->SetAsDateTime(static_cast<double>(i - 693594)); };
          break;
        case 9:
          v.i = Rand(0, 86399999);
          action = [i = v.i](TField* x) { x->SetAsDateTime(static_cast<double>(i) / 86400000.0); };
          break;
        default: {
          std::int64_t day = Rand(693594, 3000000), ms = Rand(0, 86399999);
          v.i = day * 86400000 + ms;
          action = [day, ms](TField* x) { x->SetAsDateTime(static_cast<double>(day - 693594) + ms / 86400000.0); };
          break;
        }
      }
    }
    // The dataset: a closed one has no fields to hand, so use a detached
    // field of the same kind to see the closed-dataset error.
    try {
      if (field) {
        action(field);
      } else {
        std::unique_ptr<TField> loose(CreateFieldOfType(nullptr, kColumns[f].type, kColumns[f].size));
        loose->SetFieldName(kColumns[f].name);
        action(loose.get());
      }
    } catch (const rtl::Exception& e) {
      actual = e.Message();
    }
    if (!range_error.empty()) return range_error;
    if (!m.active) return kClosed;
    if (m.st != dsEdit && m.st != dsInsert) return "Dataset not in edit or insert mode";
    m.pend[static_cast<std::size_t>(f)] = v;
    m.modified = true;
    return "";
  }

  // One random step; returns (expected error, actual error).
  std::pair<std::string, std::string> Step(std::string& label) {
    std::string actual, expected;
    auto run = [&](const std::function<void()>& action) { actual = qvtest::WhatRaised<rtl::Exception>(action); };
    int op = Rand(0, 99);
    if (op < 30) {
      label = "write";
      expected = Write(actual);
    } else if (op < 36) {
      label = "append";
      run([&] { ds.Append(); });
      expected = m.active ? m.BeginInsert(true) : kClosed;
    } else if (op < 41) {
      label = "insert";
      run([&] { ds.Insert(); });
      expected = m.active ? m.BeginInsert(false) : kClosed;
    } else if (op < 47) {
      label = "edit";
      run([&] { ds.Edit(); });
      if (!m.active) expected = kClosed;
      else if (m.st == dsBrowse && m.cur < 0) expected = m.BeginInsert(false);
      else if (m.st == dsBrowse) m.st = dsEdit, m.pend = m.store[static_cast<std::size_t>(m.cur)].row, m.modified = false;
    } else if (op < 54) {
      label = "post";
      run([&] { ds.Post(); });
      expected = m.active ? m.Post() : kClosed;
    } else if (op < 57) {
      label = "cancel";
      run([&] { ds.Cancel(); });
      if (m.st == dsEdit || m.st == dsInsert) m.Cancel();
    } else if (op < 63) {
      label = "delete";
      run([&] { ds.Delete(); });
      if (!m.active) expected = kClosed;
      else if (m.st == dsInsert) m.Cancel();
      else if (m.cur < 0) expected = "Cannot perform this operation on an empty dataset";
      else {
        m.store.erase(m.store.begin() + m.cur);
        m.st = dsBrowse;
        m.modified = false;
        m.Resync(m.cur);
      }
    } else if (op < 69) {
      bool first = op < 66;
      label = first ? "first" : "last";
      run([&] { first ? ds.First() : ds.Last(); });
      if (!m.active) expected = kClosed;
      else if ((expected = m.CheckBrowse()).empty()) first ? m.First() : m.Last();
    } else if (op < 80) {
      int d = op < 74 ? 1 : op < 78 ? -1 : Rand(-4, 4);
      label = "moveby " + std::to_string(d);
      run([&] { ds.MoveBy(d); });
      expected = m.active ? m.MoveBy(d) : kClosed;
    } else if (op < 83) {
      int v = Rand(0, m.VisCount(m.n()) + 1);
      label = "recno " + std::to_string(v);
      run([&] { ds.SetRecNo(v); });
      if (!m.active) expected = kClosed;
      else if ((expected = m.CheckBrowse()).empty()) {
        int count = m.VisCount(m.n());
        if (v >= 1 && v <= count && v != m.RecNo()) {
          for (int i = 0, seen = 0; i < m.n(); ++i)
            if (m.Vis(i) && ++seen == v) m.cur = i;
          m.bof = m.eof = false;
        }
      }
    } else if (op < 85) {
      label = "mark";
      if (m.active && m.cur >= 0 && m.st != dsInsert) {
        TBookmark b = ds.GetBookmark();
        std::uint32_t id;
        std::memcpy(&id, b.data(), 4);
        EXPECT_EQ(id, m.store[static_cast<std::size_t>(m.cur)].id);
        marks.push_back(id);
      }
    } else if (op < 89) {
      label = "goto";
      if (!marks.empty()) {
        std::uint32_t id = marks[static_cast<std::size_t>(Rand(0, static_cast<int>(marks.size()) - 1))];
        TBookmark b(4);
        std::memcpy(b.data(), &id, 4);
        run([&] { ds.GotoBookmark(b); });
        if (!m.active) expected = kClosed;
        else if ((expected = m.CheckBrowse()).empty()) {
          if (m.IndexOf(id) < 0) expected = "Record not found";
          else if (m.Resync(m.IndexOf(id)), m.cur >= 0) m.bof = m.eof = false;
        }
      }
    } else if (op < 92) {
      bool value = !m.filtered;
      label = value ? "filter on" : "filter off";
      run([&] { ds.SetFilteredValue(value); });
      if (!m.active) m.filtered = value;
      else if ((expected = m.CheckBrowse()).empty()) {
        m.filtered = value;
        m.First();
      }
    } else if (op < 94) {
      label = "close";
      run([&] { ds.Close(); });
      m.active = m.modified = m.has_ret = false;
      m.st = dsInactive;
      m.cur = -1;
      m.bof = m.eof = true;
    } else if (op < 97) {
      label = "open";
      run([&] { ds.Open(); });
      if (!m.active) m.active = true, m.st = dsBrowse, m.First();
    } else {
      label = "fail next post";
      ds.fail_posts = m.fail_posts = 1;
    }
    return {expected, actual};
  }

  void Compare(const std::string& label) {
    ASSERT_EQ(ds.Active(), m.active) << label;
    ASSERT_EQ(ds.State(), m.st) << label;
    ASSERT_EQ(ds.Bof(), m.bof) << label;
    ASSERT_EQ(ds.Eof(), m.eof) << label;
    ASSERT_EQ(ds.Modified(), m.modified) << label;
    if (!m.active) return;
    ASSERT_EQ(ds.RecordCount(), m.VisCount(m.n())) << label;
    ASSERT_EQ(ds.RecNo(), m.RecNo()) << label;
    Row want = m.Current();
    for (int f = 0; f < kFields; ++f) {
      TField* field = ds.Fields(f);
      const Val& v = want[static_cast<std::size_t>(f)];
      ASSERT_EQ(field->IsNull(), v.null) << label << " field " << f;
      if (v.null) {
        ASSERT_EQ(field->AsString(), "") << label;
        continue;
      }
      switch (f) {
        case 0: ASSERT_EQ(field->AsString(), v.s) << label; break;
        case 1: case 2: case 3: case 4:
          ASSERT_EQ(static_cast<TIntegerField*>(field)->AsLargeInt(), v.i) << label; break;
        case 5: ASSERT_EQ(field->AsBoolean(), v.i != 0) << label; break;
        case 6: ASSERT_EQ(field->AsFloat(), v.d) << label; break;
        case 7: ASSERT_EQ(field->AsCurrency().scaled, v.i) << label; break;
        case 8: case 9: {
          std::int32_t native = 0;
          field->GetData(&native);
          ASSERT_EQ(native, v.i) << label << " field " << f;
          break;
        }
        default: {
          double native = 0;
          field->GetData(&native);
          ASSERT_EQ(native, static_cast<double>(v.i)) << label;
          break;
        }
      }
    }
  }
};

TEST(DataSetModel, RandomOperationsAgreeWithTheReference) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Runner r(seed);
    for (int step = 0; step < 5000; ++step) {
      std::string label;
      auto [expected, actual] = r.Step(label);
      label += " at step " + std::to_string(step);
      ASSERT_EQ(actual, expected) << label;
      r.Compare(label);
      if (testing::Test::HasFatalFailure()) return;
    }
  }
}

}  // namespace
}  // namespace dstest
