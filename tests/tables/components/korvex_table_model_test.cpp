// A model-based random run of the table component: three components over
// one table (A and B free, C the detail of a master table through its
// index on G) move, refresh, search, edit (keys too), append, delete,
// filter, range and switch indexes in random order, bad input among it
// (duplicate keys, edits and deletes of records another component changed,
// deletes on an empty dataset). After every step the acting component's
// record, Bof, Eof, emptiness and record count, and now and then a whole
// walk with RecNo, agree with a plain model: the records, and per
// component its view, the record it shows and where its cursor stands.
//
// The cursor's rules the model keeps: at each look at the table a cursor
// on a record follows it to where it is now while it stays in the view;
// a record that left the view (deleted, filtered out, moved out of the
// range) leaves the cursor at its old place with no record there, from
// where steps go to the neighbours of that place. A dataset whose cursor
// went elsewhere puts it back on its record by the same rule.
//
// QV_TABLE_MODEL_SEEDS ("first:count") and QV_TABLE_MODEL_STEPS make the
// run longer.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/dataset/datalink.h"
#include "platform/dataset/dataset.h"
#include "platform/dataset/fields.h"
#include "tables/components/korvex_table.h"
#include "tests/tables/components/components_test_support.h"

namespace korvex::testing {
namespace {

using namespace db;

constexpr int kMasters = 4;  // master IDs 1..4; G takes 1..5

struct Rec {
  int id = 0, g = 0;
  std::optional<std::string> f;
  std::string m;
  int memo_writes = 0;  // a rewritten memo is another record, same text or not
  std::uint32_t rid = 0;
  bool operator==(const Rec&) const = default;
};

enum Index { kPrimary, kByG, kByGDown };
const char* const kIndexNames[] = {"", "ByG", "ByGDown"};
using Key = std::pair<std::int64_t, std::int64_t>;

struct View {
  Index index = kPrimary;
  bool filtered = false;
  int filter_kind = 0, filter_value = 0;  // G = v, G >= v, G < v
  bool ranged = false;
  int low = 0, high = 0;  // on ID (primary) or G
  bool detail = false;    // G = the master's ID
};

std::string FilterText(const View& v) {
  static const char* const ops[] = {" = ", " >= ", " < "};
  return "G" + std::string(ops[v.filter_kind]) + std::to_string(v.filter_value);
}

enum class Pos { kBof, kEof, kOn, kLeft, kNone };

struct Comp {
  View view;
  // The cursor: where it stands, the record's number (rid) and the copy
  // and key it has of it.
  Pos pos = Pos::kNone;
  std::uint32_t rid = 0;
  Rec copy;
  Key key;
  // The dataset: the record it shows and its flags, and whether its
  // cursor stands on that record.
  bool has = false, bof = true, eof = true, synced = false;
  Rec shown;
};

// The reference: nothing here calls the components.
class Model {
public:
  std::map<std::uint32_t, Rec> recs;  // by record ID
  std::uint32_t last_rid = 0;
  int master = 1;
  std::array<Comp, 3> comps;
  // How often the cases of interest came up.
  struct {
    long followed = 0, left = 0, refreshes = 0, refused = 0, walks = 0, detail = 0;
  } seen;

  Key KeyOf(const Comp& c, const Rec& r) const {
    switch (c.view.index) {
      case kPrimary: return {r.id, 0};
      case kByG: return {r.g, r.rid};
      default: return {-r.g, -static_cast<std::int64_t>(r.rid)};
    }
  }
  bool InView(const Comp& c, const Rec& r) const {
    const View& v = c.view;
    if (v.filtered) {
      const bool pass = v.filter_kind == 0 ? r.g == v.filter_value
                        : v.filter_kind == 1 ? r.g >= v.filter_value
                                             : r.g < v.filter_value;
      if (!pass) return false;
    }
    if (v.detail && r.g != master) return false;
    if (v.ranged) {
      const int k = v.index == kPrimary ? r.id : r.g;
      if (k < v.low || k > v.high) return false;
    }
    return true;
  }
  std::vector<std::pair<Key, std::uint32_t>> Order(const Comp& c) const {
    std::vector<std::pair<Key, std::uint32_t>> order;
    for (const auto& [rid, r] : recs)
      if (InView(c, r)) order.push_back({KeyOf(c, r), rid});
    std::sort(order.begin(), order.end());
    return order;
  }
  const Rec* Alive(std::uint32_t rid) const {
    auto it = recs.find(rid);
    return it == recs.end() ? nullptr : &it->second;
  }
  bool IdTaken(int id, std::uint32_t except) const {
    for (const auto& [rid, r] : recs)
      if (r.id == id && rid != except) return true;
    return false;
  }

  // ---- the cursor
  void PlaceOn(Comp& c, std::uint32_t rid) {
    c.pos = Pos::kOn;
    c.rid = rid;
    c.copy = recs.at(rid);
    c.key = KeyOf(c, c.copy);
  }
  // A look at the table: a record in view at its key is followed, else
  // its place kept; Refresh follows it to a new key too.
  void Detect(Comp& c, bool moved_too = false) {
    if (c.pos != Pos::kOn && !(moved_too && c.pos == Pos::kLeft)) return;
    const Rec* r = Alive(c.rid);
    if (r && !(r->rid == c.copy.rid)) r = nullptr;
    if (r && InView(c, *r) && (moved_too || KeyOf(c, *r) == c.key)) {
      if (KeyOf(c, *r) != c.key) ++seen.followed;
      PlaceOn(c, c.rid);
    } else {
      c.pos = Pos::kLeft;
      ++seen.left;
    }
  }
  // The first record of the view whose key is above (at or above) `key`.
  bool PlaceFrom(Comp& c, const Key& key, bool or_equal) {
    for (const auto& [k, rid] : Order(c))
      if (k > key || (or_equal && k == key)) {
        PlaceOn(c, rid);
        return true;
      }
    return false;
  }
  const Rec* CurNext(Comp& c) {
    Detect(c);
    const auto order = Order(c);
    bool placed = false;
    if (c.pos == Pos::kBof || c.pos == Pos::kNone) {
      if (!order.empty()) PlaceOn(c, order.front().second), placed = true;
    } else if (c.pos != Pos::kEof) {
      placed = PlaceFrom(c, c.key, false);
    }
    if (!placed) c.pos = Pos::kEof;
    return placed ? &recs.at(c.rid) : nullptr;
  }
  const Rec* CurPrior(Comp& c) {
    Detect(c);
    const auto order = Order(c);
    bool placed = false;
    if (c.pos == Pos::kEof || c.pos == Pos::kNone) {
      if (!order.empty()) PlaceOn(c, order.back().second), placed = true;
    } else if (c.pos != Pos::kBof) {
      for (auto it = order.rbegin(); it != order.rend() && !placed; ++it)
        if (it->first < c.key) PlaceOn(c, it->second), placed = true;
    }
    if (!placed) c.pos = Pos::kBof;
    return placed ? &recs.at(c.rid) : nullptr;
  }
  const Rec* CurCurrent(Comp& c) {
    Detect(c);
    return c.pos == Pos::kOn ? &recs.at(c.rid) : nullptr;
  }
  void SetToBegin(Comp& c) { c.pos = Order(c).empty() ? Pos::kNone : Pos::kBof; }
  void SetToEnd(Comp& c) { c.pos = Order(c).empty() ? Pos::kNone : Pos::kEof; }
  // The cursor's own record (as it has it) found again in the current
  // index, view and order: there, or the next key, or after the last.
  void Reposition(Comp& c) {
    if (c.pos != Pos::kOn && c.pos != Pos::kLeft) return;
    if (!PlaceFrom(c, KeyOf(c, c.copy), true)) c.pos = Pos::kEof;
  }
  void ReturnToRecord(Comp& c) {
    const Rec* r = Alive(c.shown.rid);
    if (r && InView(c, *r)) return PlaceOn(c, c.shown.rid);
    c.pos = Pos::kLeft;
    c.rid = c.shown.rid;
    c.copy = c.shown;
    c.key = KeyOf(c, c.shown);
  }
  void SetToBookmark(Comp& c, const Key& key) {
    if (Order(c).empty()) c.pos = Pos::kNone;
    else if (!PlaceFrom(c, key, true)) c.pos = Pos::kEof;
  }

  // ---- the dataset
  enum Mode { kCurrent, kNext, kPrior };
  bool ReadInto(Comp& c, Mode mode) {
    c.synced = false;
    const Rec* r = mode == kCurrent ? CurCurrent(c) : mode == kNext ? CurNext(c) : CurPrior(c);
    if (!r) return false;
    c.shown = *r;
    c.has = c.synced = true;
    return true;
  }
  bool Resync(Comp& c) {
    if (ReadInto(c, kCurrent)) return true;
    if (ReadInto(c, kNext) || ReadInto(c, kPrior)) {
      c.bof = c.eof = false;
    } else {
      c.has = false;
      c.bof = c.eof = true;
    }
    return false;
  }
  void UpdateCursorPos(Comp& c) {
    if (!c.synced && c.has) {
      ReturnToRecord(c);
      c.synced = true;
    }
  }
  void ReadEnd(Comp& c, bool first) {
    first ? SetToBegin(c) : SetToEnd(c);
    if (ReadInto(c, first ? kNext : kPrior)) {
      c.bof = first;
      c.eof = !first;
    } else {
      c.has = false;
      c.bof = c.eof = true;
    }
  }
  void MoveBy(Comp& c, int distance) {
    if ((distance > 0 && !c.eof) || (distance < 0 && !c.bof)) {
      c.bof = c.eof = false;
      for (; distance != 0; distance += distance > 0 ? -1 : 1) {
        UpdateCursorPos(c);
        if (!ReadInto(c, distance > 0 ? kNext : kPrior)) {
          (distance > 0 ? c.eof : c.bof) = true;
          break;
        }
      }
    }
  }
  void Refresh(Comp& c) {
    ++seen.refreshes;
    UpdateCursorPos(c);
    Detect(c, true);
    Resync(c);
  }
  // Edit: false when the record changed or went since the dataset read it.
  bool Edit(Comp& c) {
    UpdateCursorPos(c);
    const Rec* r = CurCurrent(c);
    return r && *r == c.shown;
  }
  // Post of an edit (false: a duplicate ID, nothing written).
  bool PostEdit(Comp& c, const Rec& edited) {
    if (IdTaken(edited.id, edited.rid)) return false;
    recs[edited.rid] = edited;
    PlaceOn(c, edited.rid);
    Reposition(c);
    Resync(c);
    return true;
  }
  void CancelEdit(Comp& c) {
    c.synced = false;
    UpdateCursorPos(c);
    Resync(c);
  }
  bool Delete(Comp& c) {
    UpdateCursorPos(c);
    const Rec* r = Alive(c.shown.rid);
    if (!r || !(*r == c.shown)) return false;
    const Key key = KeyOf(c, *r);
    recs.erase(c.shown.rid);
    if (!PlaceFrom(c, key, false)) c.pos = Pos::kEof;
    c.synced = false;
    Resync(c);
    return true;
  }
  // Append: where the dataset goes back to when the new record is dropped.
  struct Return {
    bool had, bof, eof;
    Key bookmark;
  };
  Return BeginAppend(Comp& c) {
    UpdateCursorPos(c);
    Return back{c.has, c.bof, c.eof, c.has ? KeyOf(c, c.shown) : Key{}};
    SetToEnd(c);
    c.synced = false;
    c.bof = c.eof = false;
    return back;
  }
  bool PostAppend(Comp& c, Rec added) {
    if (IdTaken(added.id, 0)) return false;
    added.rid = ++last_rid;
    recs[added.rid] = added;
    PlaceOn(c, added.rid);
    Reposition(c);
    Resync(c);
    return true;
  }
  void CancelAppend(Comp& c, const Return& back) {
    c.has = false;
    c.synced = false;
    if (back.had) {
      SetToBookmark(c, back.bookmark);
      if (Resync(c)) {
        c.bof = back.bof;
        c.eof = back.eof;
      }
    } else {
      ReadEnd(c, true);
    }
  }
  // A search by key that ends after the last record goes to the last one.
  void FindEnds(Comp& c) {
    if (c.pos != Pos::kEof) return;
    const auto order = Order(c);
    if (order.empty()) c.pos = Pos::kNone;
    else PlaceOn(c, order.back().second);
  }
  // FindKey on the index's first field: found or not.
  bool FindKey(Comp& c, int value) {
    c.synced = false;
    if (c.view.index == kPrimary) {
      for (const auto& [k, rid] : Order(c))
        if (recs.at(rid).id == value) {
          PlaceOn(c, rid);
          Resync(c);
          if (c.has) c.bof = c.eof = false;
          return true;
        }
      FindEnds(c);
      return false;
    }
    const auto order = Order(c);
    bool placed = false;
    for (const auto& [k, rid] : order) {
      const int g = recs.at(rid).g;
      if (c.view.index == kByG ? g >= value : g <= value) {
        PlaceOn(c, rid);
        placed = true;
        break;
      }
    }
    if (!placed) {
      if (order.empty()) c.pos = Pos::kNone;
      else PlaceOn(c, order.back().second);
    }
    if (!placed || recs.at(c.rid).g != value) return false;
    Resync(c);
    if (c.has) c.bof = c.eof = false;
    return true;
  }
  bool Locate(Comp& c, int id) {
    c.synced = false;
    for (const auto& [k, rid] : Order(c))
      if (recs.at(rid).id == id) {
        PlaceOn(c, rid);
        Resync(c);
        if (c.has) c.bof = c.eof = false;
        return true;
      }
    // A search on the own index; under a range on another index a scan
    // with a filter of its own.
    if (c.view.index == kPrimary) FindEnds(c);
    else if (c.view.ranged || c.view.detail) c.pos = Pos::kEof;
    return false;
  }
  void CancelRange(Comp& c) {
    UpdateCursorPos(c);
    c.synced = false;
    if (!c.view.ranged) return;
    Detect(c);
    c.view.ranged = false;
    Reposition(c);
    Resync(c);
  }
  void SwitchIndex(Comp& c, Index index) {
    if (c.view.ranged) {
      c.synced = false;
      Detect(c);
      c.view.ranged = false;
      Reposition(c);
    }
    UpdateCursorPos(c);
    Detect(c);
    c.view.index = index;
    Reposition(c);
    c.synced = true;
    if (c.has) Resync(c);
    c.synced = false;
    Resync(c);
  }
};

// ---- the components ---------------------------------------------------------

void MakeTables(const std::string& dir) {
  TKORVEXTable t;
  CreateRecsTable(t, dir);
  TKORVEXTable m;
  m.SetDatabaseName(dir);
  m.SetTableName("grps");
  m.FieldDefs().Add("ID", ftInteger, 0, true);
  m.IndexDefs().Add("", "ID", ixPrimary | ixUnique);
  m.CreateTable();
  m.Open();
  for (int id = 1; id <= kMasters; ++id) {
    m.Append();
    m.FieldByName("ID")->SetAsInteger(id);
    m.Post();
  }
}

std::string Describe(const Rec& r, bool memo) {
  return std::to_string(r.id) + "/" + std::to_string(r.g) + "/" + (r.f ? *r.f : "null") + "/" + (memo ? r.m : "-");
}

// What a component shows, in the model's terms. The memo only of a record
// as it is stored: another's change may have given the BLOB of a copy read
// before it away.
std::string Shows(TKORVEXTable& t, bool memo) {
  std::string s = t.IsEmpty() ? "empty" : "";
  if (!t.IsEmpty()) {
    TField* f = t.FieldByName("F");
    Rec r;
    r.id = t.FieldByName("ID")->AsInteger();
    r.g = t.FieldByName("G")->AsInteger();
    if (!f->IsNull()) r.f = f->AsString();
    if (memo) r.m = t.FieldByName("M")->AsString();
    s = Describe(r, memo);
  }
  return s + (t.Bof() ? " bof" : "") + (t.Eof() ? " eof" : "");
}

std::string Shows(const Comp& c, bool memo) {
  return (c.has ? Describe(c.shown, memo) : "empty") + (c.bof ? " bof" : "") + (c.eof ? " eof" : "");
}

struct ModelRun {
  explicit ModelRun(std::uint32_t seed) : rng(seed) {}
  std::mt19937 rng;
  qvtest::TempDir dir;
  Model model;
  TKORVEXTable master;
  std::array<TKORVEXTable, 3> tables;
  TDataSource master_source{nullptr};
  std::ostringstream log;  // the steps, for a divergence's report
  int memo_counter = 0;

  int Pick(int n) { return static_cast<int>(rng() % static_cast<std::uint32_t>(n)); }
  bool Chance(int percent) { return Pick(100) < percent; }

  void Start() {
    MakeTables(dir.Path());
    master.SetDatabaseName(dir.Path());
    master.SetTableName("grps");
    master.Open();
    master_source.SetDataSet(&master);
    for (int i = 0; i < 3; ++i) {
      tables[i].SetDatabaseName(dir.Path());
      tables[i].SetTableName("recs");
    }
    tables[2].SetIndexName("ByG");
    tables[2].SetMasterSource(&master_source);
    tables[2].SetMasterFields("ID");
    model.comps[2].view = View{kByG, false, 0, 0, false, 0, 0, true};
    for (int i = 0; i < 3; ++i) {
      tables[i].Open();
      model.ReadEnd(model.comps[i], true);
    }
    for (int n = 0; n < 12; ++n) Append(0);
  }

  // Runs `real` and `expect_fail` agreement: a raise exactly when the model
  // says the step fails.
  bool Try(const std::function<void()>& real) {
    try {
      real();
      return true;
    } catch (const std::exception& e) {
      log << " raised " << e.what();
      ++model.seen.refused;
      return false;
    }
  }

  void SetValues(TKORVEXTable& t, Rec& r, bool id, bool g, bool f, bool m) {
    if (id) t.FieldByName("ID")->SetAsInteger(r.id);
    if (g) t.FieldByName("G")->SetAsInteger(r.g);
    if (f) {
      if (r.f) t.FieldByName("F")->SetAsString(*r.f);
      else t.FieldByName("F")->Clear();
    }
    if (m) {
      t.FieldByName("M")->SetAsString(r.m);
      ++r.memo_writes;
    }
  }
  std::optional<std::string> SomeF() {
    if (Chance(25)) return std::nullopt;
    return std::string(1 + Pick(3), static_cast<char>('a' + Pick(4)));
  }

  void Append(int x) {
    TKORVEXTable& t = tables[x];
    Comp& c = model.comps[x];
    Rec r;
    r.id = 1 + Pick(60);
    r.g = x == 2 ? model.master : 1 + Pick(5);
    r.f = SomeF();
    r.m = "memo " + std::to_string(++memo_counter);
    log << " append " << Describe(r, true);
    const Model::Return back = model.BeginAppend(c);
    t.Append();
    SetValues(t, r, true, x != 2, true, true);
    const bool ok = model.PostAppend(c, r);
    EXPECT_EQ(Try([&] { t.Post(); }), ok) << log.str();
    if (!ok) {
      t.Cancel();
      model.CancelAppend(c, back);
    }
  }

  void Edit(int x) {
    TKORVEXTable& t = tables[x];
    Comp& c = model.comps[x];
    if (!c.has) return;
    const bool ok = model.Edit(c);
    log << " edit";
    EXPECT_EQ(Try([&] { t.Edit(); }), ok) << log.str();
    if (!ok) return;
    Rec r = c.shown;
    const int what = Pick(6);
    const bool id = what == 0 || what == 5, g = what == 1 || what == 5, f = what == 2 || what == 5,
               m = what == 3 || what == 5;
    if (id) r.id = 1 + Pick(60);
    if (g) r.g = 1 + Pick(5);
    if (f) r.f = SomeF();
    if (m) r.m = "memo " + std::to_string(++memo_counter);
    if (what == 4) r.g = r.g % 5 + 1, r.id = r.id % 60 + 1;  // key and index both
    SetValues(t, r, id || what == 4, g || what == 4, f, m);
    log << " to " << Describe(r, true);
    const bool posted = model.PostEdit(c, r);
    EXPECT_EQ(Try([&] { t.Post(); }), posted) << log.str();
    if (!posted) {
      t.Cancel();
      model.CancelEdit(c);
    }
  }

  // Half the edits and deletes go to a record another component shows.
  void AimAtAnother(int x) {
    const int y = (x + 1 + Pick(2)) % 3;
    if (Chance(50) || !model.comps[y].has) return;
    const int id = model.comps[y].shown.id;
    log << " locate " << id;
    EXPECT_EQ(tables[x].Locate("ID", Variant(std::int32_t{id}), 0), model.Locate(model.comps[x], id)) << log.str();
  }

  void Step(int x) {
    TKORVEXTable& t = tables[x];
    Comp& c = model.comps[x];
    const int op = Pick(100);
    log << "\n" << "ABC"[x] << ":";
    if (x == 2) ++model.seen.detail;
    if (op < 8) {
      log << " first";
      t.First();
      model.ReadEnd(c, true);
    } else if (op < 12) {
      log << " last";
      t.Last();
      model.ReadEnd(c, false);
    } else if (op < 24) {
      log << " next";
      t.Next();
      model.MoveBy(c, 1);
    } else if (op < 32) {
      log << " prior";
      t.Prior();
      model.MoveBy(c, -1);
    } else if (op < 36) {
      const int d = Chance(50) ? 3 : -2;
      log << " moveby " << d;
      t.MoveBy(d);
      model.MoveBy(c, d);
    } else if (op < 46) {
      log << " refresh";
      EXPECT_TRUE(Try([&] { t.Refresh(); })) << log.str();
      model.Refresh(c);
    } else if (op < 60) {
      AimAtAnother(x);
      Edit(x);
    } else if (op < 68) {
      Append(x);
    } else if (op < 73) {
      AimAtAnother(x);
      log << " delete";
      const bool ok = c.has && model.Delete(c);
      EXPECT_EQ(Try([&] { t.Delete(); }), ok) << log.str();
    } else if (op < 78) {
      const int id = 1 + Pick(60);
      log << " locate " << id;
      EXPECT_EQ(t.Locate("ID", Variant(std::int32_t{id}), 0), model.Locate(c, id)) << log.str();
    } else if (op < 82) {
      const int v = c.view.index == kPrimary ? 1 + Pick(60) : 1 + Pick(5);
      log << " findkey " << v;
      EXPECT_EQ(t.FindKey({Variant(std::int32_t{v})}), model.FindKey(c, v)) << log.str();
    } else if (op < 86 && x != 2) {
      const Index index = static_cast<Index>(Pick(3));
      log << " index " << index;
      t.SetIndexName(kIndexNames[index]);
      if (index != c.view.index) model.SwitchIndex(c, index);
    } else if (op < 90 && x != 2) {
      if (c.view.index == kByGDown || Chance(35)) {
        log << " cancelrange";
        t.CancelRange();
        model.CancelRange(c);
      } else {
        const int span = c.view.index == kPrimary ? 60 : 5, low = 1 + Pick(span), high = low + Pick(span / 2 + 1);
        log << " range " << low << ".." << high;
        const bool changed = !c.view.ranged || c.view.low != low || c.view.high != high;
        t.SetRange({Variant(std::int32_t{low})}, {Variant(std::int32_t{high})});
        c.view.ranged = true;
        c.view.low = low;
        c.view.high = high;
        if (changed) model.ReadEnd(c, true);
      }
    } else if (op < 94) {
      if (c.view.filtered && Chance(40)) {
        log << " unfiltered";
        t.SetFilteredValue(false);
        c.view.filtered = false;
      } else {
        c.view.filter_kind = Pick(3);
        c.view.filter_value = 1 + Pick(5);
        log << " filter " << FilterText(c.view);
        t.SetFilter(FilterText(c.view));
        t.SetFilteredValue(true);
        c.view.filtered = true;
      }
      model.ReadEnd(c, true);
    } else {
      const int how = Pick(4);
      log << " master " << how;
      if (how == 0) master.Next();
      else if (how == 1) master.Prior();
      else if (how == 2) master.First();
      else master.Last();
      const int now = master.FieldByName("ID")->AsInteger();
      if (now != model.master) {
        model.master = now;
        model.ReadEnd(model.comps[2], true);
      }
    }
    Compare(x);
    model.Detect(c);
    EXPECT_EQ(t.RecordCount(), static_cast<int>(model.Order(c).size())) << log.str();
  }

  void Compare(int x) {
    Comp& c = model.comps[x];
    const Rec* stored = c.has ? model.Alive(c.shown.rid) : nullptr;
    const bool memo = stored && *stored == c.shown;
    // Reading the memo is a look at the table.
    if (memo) model.Detect(c);
    EXPECT_EQ(Shows(tables[x], memo), Shows(c, memo)) << log.str();
  }

  // Every record of the view in order, with its RecNo.
  void Walk(int x) {
    TKORVEXTable& t = tables[x];
    Comp& c = model.comps[x];
    log << "\n" << "ABC"[x] << ": walk";
    ++model.seen.walks;
    t.First();
    model.ReadEnd(c, true);
    for (int n = 1; !t.Eof() && !::testing::Test::HasFailure(); ++n) {
      Compare(x);
      ASSERT_EQ(t.RecNo(), n) << log.str();
      t.Next();
      model.MoveBy(c, 1);
    }
    Compare(x);
  }
};

std::pair<std::uint32_t, std::uint32_t> Seeds() {
  std::uint32_t first = 1, count = 12;
  if (const char* s = std::getenv("QV_TABLE_MODEL_SEEDS")) {
    std::string text = s;
    const auto colon = text.find(':');
    first = static_cast<std::uint32_t>(std::stoul(text.substr(0, colon)));
    if (colon != std::string::npos) count = static_cast<std::uint32_t>(std::stoul(text.substr(colon + 1)));
  }
  return {first, count};
}

int Steps() {
  const char* s = std::getenv("QV_TABLE_MODEL_STEPS");
  return s ? std::atoi(s) : 600;
}

using TableModelTest = ComponentsTest;

TEST_F(TableModelTest, ThreeComponentsOnOneTableAgreeWithTheModel) {
  const auto [first, count] = Seeds();
  const int steps = Steps();
  int diverged = 0;
  decltype(Model::seen) seen{};
  for (std::uint32_t seed = first; seed < first + count && diverged == 0; ++seed) {
    {
      ModelRun run(seed);
      run.Start();
      for (int step = 0; step < steps && !::testing::Test::HasFailure(); ++step) {
        const int x = run.Pick(3);
        try {
          if (run.Chance(3)) run.Walk(x);
          else run.Step(x);
        } catch (const std::exception& e) {
          ADD_FAILURE() << e.what() << run.log.str();
        }
      }
      seen.followed += run.model.seen.followed;
      seen.left += run.model.seen.left;
      seen.refreshes += run.model.seen.refreshes;
      seen.refused += run.model.seen.refused;
      seen.walks += run.model.seen.walks;
      seen.detail += run.model.seen.detail;
      if (::testing::Test::HasFailure()) {
        ++diverged;
        ADD_FAILURE() << "seed " << seed;
      }
    }
    FinalizeSessions();
  }
  std::printf(
      "table model: seeds %u..%u, %d steps each, %d diverged; records followed %ld, left the view %ld, "
      "refreshes %ld, refused %ld, walks %ld, detail steps %ld\n",
      first, first + count - 1, steps, diverged, seen.followed, seen.left, seen.refreshes, seen.refused, seen.walks,
      seen.detail);
}

}  // namespace
}  // namespace korvex::testing
