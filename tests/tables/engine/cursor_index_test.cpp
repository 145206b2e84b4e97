// Data cursor by index: a model-based random run against plain containers
// (per index the records sorted by their field values, compared by type,
// under language 0 as bytes and under a language by the collation unit),
// with the file checker after every batch; then the edge cases as a table.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <stdlib.h>

#include "platform/runtime/coding.h"
#include "support/temp_dir.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/collation.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/cursor_test_support.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

TIndexDefinition Ix(const std::string& name, std::vector<std::uint16_t> fields, bool unique = true,
                    bool descending = false, bool case_insensitive = false, std::uint8_t compression = 0) {
  TIndexDefinition d;
  d.Name = name;
  d.Unique = unique ? 1 : 0;
  d.Descending = descending ? 1 : 0;
  d.CaseInsensitive = case_insensitive ? 1 : 0;
  d.Compression = compression;
  for (std::size_t i = 0; i < fields.size(); ++i) d.Fields[i] = fields[i];
  return d;
}

// ---- the model --------------------------------------------------------------------

struct MIndex {
  std::string name;
  std::vector<std::uint16_t> fields;  // 1-based positions
  bool unique = true, descending = false, ci = false;
};

// One field value of a record as the user wrote it: blank, text or number.
struct Value {
  bool blank = true;
  std::string text;
  long double number = 0;
};

class Model {
public:
  std::vector<TFieldDefinition> fields;  // as created
  std::uint16_t language = 0, sort = 0;
  bool has_primary = false;
  MIndex primary;
  std::vector<MIndex> secondary;
  std::map<std::uint32_t, Bytes> live;  // physical number -> record bytes
  std::vector<std::uint32_t> free;      // deleted records, the last one first reused
  std::uint32_t next = 1, last_id = 0;

  // The cursor: index position, range and place.
  int pos = 0;
  bool range = false;
  Bytes range_start, range_end;
  int start_fields = 0, end_fields = 0;  // 0: open on that side
  enum State { Bof, Eof, On, None } state = Bof;
  std::uint32_t at = 0;  // On: the record (under physical order possibly deleted)
  Bytes at_bytes;        // its bytes (kept for a deleted one)

  bool Physical() const { return pos == 255 || (pos == 0 && !has_primary); }
  const MIndex& Index(int p) const { return p == 0 ? primary : secondary.at(p - 1); }

  Value ValueOf(const Bytes& r, std::uint16_t field) const {
    const TFieldDefinition& f = fields[field - 1];
    Value v;
    if (f.IsAutoIncrement()) {
      v.blank = false;
      v.number = rtl::DecodeFixed32(r.data() + 5);
      return v;
    }
    const std::uint8_t* p = r.data() + f.Offset;
    if (p[0] == 0) return v;
    v.blank = false;
    switch (f.DataType) {
      case dtString: v.text = std::string(reinterpret_cast<const char*>(p + 1), strnlen(reinterpret_cast<const char*>(p + 1), f.Size)); break;
      case dtInteger: case dtDate: v.number = static_cast<std::int32_t>(rtl::DecodeFixed32(p + 1)); break;
      case dtSmallInt: v.number = static_cast<std::int16_t>(rtl::DecodeFixed16(p + 1)); break;
      case dtWord: case dtBoolean: v.number = rtl::DecodeFixed16(p + 1); break;
      case dtFloat: v.number = rtl::DecodeDouble(p + 1); break;
      default: ADD_FAILURE() << "type " << int(f.DataType);
    }
    return v;
  }

  int CompareText(std::string a, std::string b, bool ci) const {
    if (ci) a = UpperString(language, sort, a), b = UpperString(language, sort, b);
    if (language == 0) return a < b ? -1 : a > b ? 1 : 0;  // unsigned bytes
    return CompareLocaleStrings(MakeLocaleID(language, sort), SORT_STRINGSORT | NORM_IGNORENONSPACE, a.data(),
                                static_cast<std::ptrdiff_t>(a.size()), b.data(), static_cast<std::ptrdiff_t>(b.size()));
  }

  // Keys of two records (or search buffers) by an index: the first
  // `count` key fields, then `partial` characters of the next one, then
  // (with_id, non-unique) the record IDs; the index's direction applied.
  int Compare(const MIndex& ix, const Bytes& a, const Bytes& b, int count, int partial, bool with_id) const {
    int r = 0;
    for (int i = 0; i < static_cast<int>(ix.fields.size()) && r == 0; ++i) {
      if (i > count || (i == count && partial == 0)) break;
      Value x = ValueOf(a, ix.fields[i]), y = ValueOf(b, ix.fields[i]);
      if (i == count) x.text.resize(std::min<std::size_t>(x.text.size(), partial)),
                      y.text.resize(std::min<std::size_t>(y.text.size(), partial));
      if (x.blank != y.blank) r = x.blank ? -1 : 1;
      else if (x.blank) r = 0;
      else if (fields[ix.fields[i] - 1].DataType == dtString && !fields[ix.fields[i] - 1].IsAutoIncrement())
        r = CompareText(x.text, y.text, ix.ci);
      else r = x.number < y.number ? -1 : x.number > y.number ? 1 : 0;
    }
    if (r == 0 && with_id && !ix.unique) {
      std::uint32_t p = rtl::DecodeFixed32(a.data() + 5), q = rtl::DecodeFixed32(b.data() + 5);
      r = p < q ? -1 : p > q ? 1 : 0;
    }
    return ix.descending ? -r : r;
  }
  int Whole(const MIndex& ix) const { return static_cast<int>(ix.fields.size()); }

  // A record against the key a search by `partial` leading characters of
  // key field `count` goes by: those characters followed by the lowest
  // key bytes (nothing) or, descending, the highest (a byte without a
  // character under a language, else 0xFF).
  int CompareProbe(const MIndex& ix, const Bytes& record, const Bytes& values, int count, int partial) const {
    int r = 0;
    for (int i = 0; i < count && r == 0; ++i) r = Compare1(ix, i, record, values);
    if (r == 0) {
      const TFieldDefinition& f = fields[ix.fields[count] - 1];
      Value x = ValueOf(record, ix.fields[count]), y = ValueOf(values, ix.fields[count]);
      std::string probe = y.text.substr(0, partial);
      if (ix.ci) probe = UpperString(language, sort, probe), x.text = UpperString(language, sort, x.text);
      if (ix.descending) probe += std::string(f.Size + 1u - partial, language ? '\x9D' : '\xFF');
      if (x.blank) r = -1;
      else r = CompareText(x.text, probe, false);
    }
    if (r == 0 && (count + 1 < Whole(ix) || !ix.unique)) {
      // The later fields and the record ID: blank and 0, or above all.
      if (ix.descending) r = -1;
      else {
        for (int i = count + 1; i < Whole(ix) && r == 0; ++i) r = ValueOf(record, ix.fields[i]).blank ? 0 : 1;
        if (r == 0 && !ix.unique) r = 1;
      }
    }
    return ix.descending ? -r : r;
  }
  int Compare1(const MIndex& ix, int i, const Bytes& a, const Bytes& b) const {
    Value x = ValueOf(a, ix.fields[i]), y = ValueOf(b, ix.fields[i]);
    if (x.blank != y.blank) return x.blank ? -1 : 1;
    if (x.blank) return 0;
    const TFieldDefinition& f = fields[ix.fields[i] - 1];
    if (f.DataType == dtString && !f.IsAutoIncrement()) return CompareText(x.text, y.text, ix.ci);
    return x.number < y.number ? -1 : x.number > y.number ? 1 : 0;
  }

  bool InRange(const Bytes& r) const {
    if (!range) return true;
    const MIndex& ix = Index(pos);
    if (start_fields && Compare(ix, r, range_start, start_fields, 0, false) < 0) return false;
    if (end_fields && Compare(ix, r, range_end, end_fields, 0, false) > 0) return false;
    return true;
  }

  // The visible records of the current order (remembered with the state
  // they were sorted from: sorting by collation is the model's cost).
  std::vector<std::uint32_t> Visible() const {
    const bool same = cached_ && cache_pos_ == pos && cache_range_ == range && cache_start_fields_ == start_fields &&
                      cache_end_fields_ == end_fields && cache_start_ == range_start && cache_end_ == range_end &&
                      cache_secondary_ == secondary.size() && cache_live_ == live;
    if (same) return cache_;
    cache_ = Sorted();
    cached_ = true;
    cache_pos_ = pos;
    cache_range_ = range;
    cache_start_fields_ = start_fields;
    cache_end_fields_ = end_fields;
    cache_start_ = range_start;
    cache_end_ = range_end;
    cache_secondary_ = secondary.size();
    cache_live_ = live;
    return cache_;
  }
  std::vector<std::uint32_t> Sorted() const {
    std::vector<std::uint32_t> v;
    for (auto& [n, r] : live)
      if (Physical() || InRange(r)) v.push_back(n);
    if (!Physical()) {
      const MIndex& ix = Index(pos);
      std::stable_sort(v.begin(), v.end(), [&](std::uint32_t a, std::uint32_t b) {
        return Compare(ix, live.at(a), live.at(b), Whole(ix), 0, true) < 0;
      });
    }
    return v;
  }

  // The first visible record whose key is not below `key` over (count,
  // partial); 0 when none.
  std::uint32_t FirstNotBelow(const Bytes& key, int count, int partial, bool with_id) const {
    const MIndex& ix = Index(pos);
    for (std::uint32_t n : Visible())
      if (Compare(ix, live.at(n), key, count, partial, with_id) >= 0) return n;
    return 0;
  }
  void Place(std::uint32_t n) {
    if (n == 0) {
      state = Eof;
      at = 0;
      return;
    }
    state = On;
    at = n;
    at_bytes = live.at(n);
  }
  // Where the cursor goes after a write or index change: the first visible
  // key not below the current record's.
  void Reposition() {
    if (Physical() || state != On) return;
    const MIndex& ix = Index(pos);
    Place(FirstNotBelow(at_bytes, Whole(ix), 0, true));
  }
  void SetToBegin() {
    at = 0;
    state = (!Physical() && Visible().empty()) ? None : Bof;
  }
  mutable bool cached_ = false, cache_range_ = false;
  mutable int cache_pos_ = 0, cache_start_fields_ = 0, cache_end_fields_ = 0;
  mutable std::size_t cache_secondary_ = 0;
  mutable Bytes cache_start_, cache_end_;
  mutable std::map<std::uint32_t, Bytes> cache_live_;
  mutable std::vector<std::uint32_t> cache_;

  bool UniqueClash(const Bytes& record, std::uint32_t self) const {
    auto clash = [&](const MIndex& ix) {
      if (!ix.unique) return false;
      for (auto& [n, r] : live)
        if (n != self && Compare(ix, r, record, Whole(ix), 0, false) == 0) return true;
      return false;
    };
    if (has_primary && clash(primary)) return true;
    return std::any_of(secondary.begin(), secondary.end(), clash);
  }
};

// ---- the run ------------------------------------------------------------------------

struct Run {
  std::mt19937 rng;
  Model m;
  bool exclusive;
  std::string dir;
  std::unique_ptr<Env> env;
  std::unique_ptr<TDataCursor> c;
  int names = 0;

  Run(unsigned seed, bool excl, const std::string& path) : rng(seed), exclusive(excl), dir(path) {}

  std::uint32_t R(std::uint32_t n) { return n == 0 ? 0 : rng() % n; }

  void Schema() {
    const std::uint8_t types[] = {dtString, dtString, dtInteger, dtSmallInt, dtWord, dtFloat, dtDate, dtBoolean};
    const int count = 2 + static_cast<int>(R(4));
    for (int i = 0; i < count; ++i) {
      const std::uint8_t t = types[R(std::size(types))];
      m.fields.push_back(Field("F" + std::to_string(i), t, t == dtString ? 3 + R(12) : 0));
    }
    if (R(2)) m.fields.push_back(Field("Id", dtInteger, 0, fstAutoInc));
    if (R(3) == 0) m.language = MakeLanguageID(10, 1);  // a collation with contractions and accents
  }
  MIndex RandomIndex(bool primary) {
    MIndex ix;
    const int count = 1 + static_cast<int>(R(primary ? 3 : 2));
    std::set<std::uint16_t> used;
    for (int i = 0; i < count; ++i) {
      const std::uint16_t f = static_cast<std::uint16_t>(1 + R(static_cast<std::uint32_t>(m.fields.size())));
      if (used.insert(f).second) ix.fields.push_back(f);
    }
    ix.unique = primary || R(3) == 0;
    ix.descending = R(3) == 0;
    ix.ci = R(3) == 0;
    if (!primary) ix.name = "Ix" + std::to_string(++names);
    return ix;
  }
  TIndexDefinition Definition(const MIndex& ix) {
    return Ix(ix.name, ix.fields, ix.unique, ix.descending, ix.ci, static_cast<std::uint8_t>(R(4)));
  }

  void Create() {
    Schema();
    TTableCreation creation;
    creation.Settings.LanguageID = m.language;
    m.has_primary = R(3) != 0;
    if (m.has_primary) m.primary = RandomIndex(true);
    creation.Indexes.push_back(m.has_primary ? Definition(m.primary) : Ix("", {}));
    for (int i = static_cast<int>(R(4)); i > 0; --i) {
      m.secondary.push_back(RandomIndex(false));
      creation.Indexes.push_back(Definition(m.secondary.back()));
    }
    env = std::make_unique<Env>(dir);
    auto maker = Cursor(env->dir, true);
    maker->CreateTable(creation, m.fields);
    c = Cursor(env->dir, exclusive);
    Open();
  }
  void Open() {
    c->OpenCursor();
    m.pos = 0;
    m.range = false;
    m.SetToBegin();
  }

  // Values from a small set: many duplicates, case and accent variants.
  void Fill(Bytes& buffer) {
    static const char* words[] = {"a", "A", "b", "Jose", "Jos\xE9", "JOSE", "ch", "cz", "d", "ll", "lz", "\xE9", "E", ""};
    for (int f = 1; f <= static_cast<int>(m.fields.size()); ++f) {
      const TFieldDefinition& def = m.fields[f - 1];
      if (def.IsAutoIncrement()) continue;
      if (R(6) == 0) {
        c->PutField(f, buffer.data(), nullptr);
        continue;
      }
      Bytes value(def.PhysicalSize + 1, 0);
      switch (def.DataType) {
        case dtString: {
          std::string s = words[R(std::size(words))];
          if (R(3) == 0) s += words[R(std::size(words))];
          s.resize(std::min<std::size_t>(s.size(), def.Size));
          std::copy(s.begin(), s.end(), value.begin());
          break;
        }
        case dtInteger: case dtDate: rtl::EncodeFixed32(value.data(), static_cast<std::uint32_t>(static_cast<std::int32_t>(R(9)) - 4)); break;
        case dtSmallInt: rtl::EncodeFixed16(value.data(), static_cast<std::uint16_t>(static_cast<std::int16_t>(R(7)) - 3)); break;
        case dtWord: case dtBoolean: rtl::EncodeFixed16(value.data(), static_cast<std::uint16_t>(R(def.DataType == dtWord ? 6 : 2))); break;
        case dtFloat: rtl::EncodeDouble(value.data(), (static_cast<double>(R(9)) - 4) / 2 + (R(2) ? 0 : 0.25)); break;
      }
      c->PutField(f, buffer.data(), value.data());
    }
  }
  Bytes Size() const { return Bytes(c->GetRecordSize(), 0); }

  // ---- checks ----
  void CheckPlace(const char* what) {
    SCOPED_TRACE(what);
    const std::vector<std::uint32_t> visible = m.Visible();
    ASSERT_EQ(c->GetRecordCount(), visible.size());
    std::uint32_t number = 0;
    if (m.state == Model::On) {
      if (m.Physical()) number = static_cast<std::uint32_t>(std::distance(m.live.begin(), m.live.upper_bound(m.at)));
      else number = static_cast<std::uint32_t>(std::find(visible.begin(), visible.end(), m.at) - visible.begin()) + 1;
    }
    ASSERT_EQ(c->GetRecordNumber(), number);
    ASSERT_EQ(c->GetPhysicalRecordNumber(), m.state == Model::On ? m.at : 0);
    if (m.state == Model::On) {
      Bytes buffer = Size();
      const bool alive = m.live.count(m.at) != 0;
      ASSERT_EQ(c->GetCurrentRecord(buffer.data(), false), alive ? 0 : err::kRecordChanged);
      if (alive) {
        ASSERT_EQ(buffer, m.live.at(m.at));
      }
    }
  }
  // Both directions over the visible records, then back to the model's place.
  void Walk() {
    const std::vector<std::uint32_t> visible = m.Visible();
    for (int direction : {1, -1}) {
      direction > 0 ? c->SetToBegin() : c->SetToEnd();
      std::vector<std::uint32_t> seen;
      Bytes buffer = Size();
      while ((direction > 0 ? c->GetNextRecord(buffer.data()) : c->GetPriorRecord(buffer.data())) == 0) {
        seen.push_back(c->GetPhysicalRecordNumber());
        ASSERT_EQ(buffer, m.live.at(seen.back()));
        ASSERT_LE(seen.size(), visible.size());
      }
      std::vector<std::uint32_t> expected = visible;
      if (direction < 0) std::reverse(expected.begin(), expected.end());
      ASSERT_EQ(seen, expected) << "direction " << direction << " index " << m.pos;
    }
    Restore();
  }
  void Restore() {
    if (m.state == Model::On && m.live.count(m.at)) {
      ASSERT_EQ(c->GotoPhysicalRecordNumber(m.at), 0);
    } else if (m.state == Model::On || m.state == Model::Bof || m.state == Model::None) {
      c->SetToBegin();
      m.SetToBegin();
    } else {
      c->SetToEnd();
      m.at = 0;
      m.state = m.Physical() || !m.Visible().empty() ? Model::Eof : Model::None;
    }
  }
  void Check() {
    CheckResult check = RunTableCheck(dir + "/t.DAT");
    ASSERT_EQ(check.status, 0) << check.output;
  }

  // ---- operations ----
  void Append() {
    Bytes buffer = Size();
    Fill(buffer);
    Bytes expected = buffer;
    const std::uint32_t id = m.last_id + 1;
    rtl::EncodeFixed32(expected.data() + 5, id);
    const bool clash = m.UniqueClash(expected, 0);
    const int raised = RaisedNumber([&] { c->AppendRecord(buffer.data()); });
    ASSERT_EQ(raised, clash ? err::kDuplicateKey : 0);
    if (clash) return;
    std::uint32_t n = m.next;
    if (m.has_primary && !m.free.empty()) {
      n = m.free.back();
      m.free.pop_back();
    } else {
      ++m.next;
    }
    m.last_id = id;
    rtl::EncodeFixed32(expected.data() + 1, n);
    m.live[n] = expected;
    m.state = Model::On;
    m.at = n;
    m.at_bytes = expected;
    m.Reposition();
  }
  void Modify() {
    if (m.state != Model::On || !m.live.count(m.at)) return;
    Bytes buffer = Size();
    ASSERT_EQ(c->GetCurrentRecord(buffer.data(), false), 0);
    ASSERT_EQ(c->GetCurrentRecord(buffer.data(), true), 0);
    Fill(buffer);
    Bytes expected = buffer;
    std::memcpy(expected.data() + 1, m.live.at(m.at).data() + 1, 8);  // number and ID stay
    const bool clash = m.UniqueClash(expected, m.at);
    const int raised = RaisedNumber([&] { c->ModifyRecord(buffer.data(), true); });
    ASSERT_EQ(raised, clash ? err::kDuplicateKey : 0);
    if (clash) {
      c->UserWriteUnlockRecord(0);
      return;
    }
    m.live[m.at] = expected;
    m.at_bytes = expected;
    m.Reposition();
  }
  void Delete() {
    if (m.state != Model::On || !m.live.count(m.at)) return;
    Bytes buffer = Size();
    ASSERT_EQ(c->GetCurrentRecord(buffer.data(), false), 0);
    c->DeleteRecord(buffer.data());
    m.live.erase(m.at);
    m.free.push_back(m.at);
    m.Reposition();
  }
  void Move(int direction) {
    Bytes buffer = Size();
    const TEngineErrorCode status = direction > 0 ? c->GetNextRecord(buffer.data()) : c->GetPriorRecord(buffer.data());
    std::uint32_t target = 0;
    const std::vector<std::uint32_t> visible = m.Visible();
    if (m.Physical()) {
      const bool from_start = direction > 0 ? (m.state == Model::Bof || m.state == Model::None)
                                            : (m.state == Model::Eof || m.state == Model::None);
      const bool at_far = direction > 0 ? m.state == Model::Eof : m.state == Model::Bof;
      if (!at_far) {
        if (from_start) {
          if (!m.live.empty()) target = direction > 0 ? m.live.begin()->first : m.live.rbegin()->first;
        } else if (direction > 0) {
          auto it = m.live.upper_bound(m.at);
          if (it != m.live.end()) target = it->first;
        } else {
          auto it = m.live.lower_bound(m.at);
          if (it != m.live.begin()) target = std::prev(it)->first;
        }
      }
    } else {
      const bool at_far = direction > 0 ? m.state == Model::Eof : m.state == Model::Bof;
      if (!at_far && !visible.empty()) {
        if (m.state == Model::On) {
          auto it = std::find(visible.begin(), visible.end(), m.at);
          ASSERT_NE(it, visible.end());
          if (direction > 0 && it + 1 != visible.end()) target = *(it + 1);
          if (direction < 0 && it != visible.begin()) target = *(it - 1);
        } else {
          target = direction > 0 ? visible.front() : visible.back();
        }
      }
    }
    if (target == 0) {
      ASSERT_EQ(status, direction > 0 ? err::kEndOfFile : err::kBeginningOfFile);
      m.state = direction > 0 ? Model::Eof : Model::Bof;
      m.at = 0;
      return;
    }
    ASSERT_EQ(status, 0);
    ASSERT_EQ(buffer, m.live.at(target));
    m.Place(target);
  }
  // A search buffer: the values of a live record (sometimes), else random.
  Bytes SearchValues() {
    Bytes values = Size();
    if (!m.live.empty() && R(3)) {
      auto it = m.live.begin();
      std::advance(it, R(static_cast<std::uint32_t>(m.live.size())));
      values = it->second;
    } else {
      Fill(values);
      rtl::EncodeFixed32(values.data() + 5, R(m.last_id + 2));
    }
    return values;
  }
  void Find() {
    if (m.Physical()) return;
    const MIndex& ix = m.Index(m.pos);
    const int key_fields = m.Whole(ix);
    Bytes values = SearchValues();
    int count = static_cast<int>(R(key_fields + 1));
    int partial = 0;
    if (count < key_fields && m.fields[ix.fields[count] - 1].DataType == dtString &&
        !m.fields[ix.fields[count] - 1].IsAutoIncrement() && !m.ValueOf(values, ix.fields[count]).blank && R(2))
      partial = 1 + static_cast<int>(R(3));
    const bool nearest = R(2);
    // What the cursor should do.
    const bool whole = (count < 1 || count >= key_fields) && ix.unique && (count != 0 || partial == 0);
    int fields = whole ? key_fields : (count == 0 && partial == 0) ? key_fields : count;
    if (!whole && partial && count >= key_fields) partial = 0;
    std::uint32_t hit = 0;
    if (!whole && partial) {
      for (std::uint32_t n : m.Visible())
        if (m.CompareProbe(ix, m.live.at(n), values, count, partial) >= 0) {
          hit = n;
          break;
        }
    } else {
      hit = m.FirstNotBelow(values, fields, whole ? 0 : partial, false);
    }
    bool found = hit != 0 && m.Compare(ix, m.live.at(hit), values, fields, whole ? 0 : partial, false) == 0;
    Bytes buffer = Size();
    const bool answer = c->Find(false, values.data(), count, nearest, static_cast<std::uint8_t>(partial), buffer.data());
    ASSERT_EQ(answer, found) << "fields " << count << " partial " << partial << " nearest " << nearest;
    if (found || !whole || nearest) m.Place(hit);
    if (m.state == Model::Eof) {
      const std::vector<std::uint32_t> visible = m.Visible();
      if (!visible.empty()) m.Place(visible.back());
      else m.state = Model::None;
    }
  }
  void FindExact() {
    if (m.Physical()) return;
    const MIndex& ix = m.Index(m.pos);
    Bytes values = SearchValues();
    const std::uint32_t hit = m.FirstNotBelow(values, m.Whole(ix), 0, false);
    const bool found = hit != 0 && m.Compare(ix, m.live.at(hit), values, m.Whole(ix), 0, false) == 0;
    Bytes buffer = Size();
    ASSERT_EQ(c->FindExact(values.data(), buffer.data()), found);
    if (found) m.Place(hit);
  }
  void SetRange() {
    if (m.Physical()) return;
    const MIndex& ix = m.Index(m.pos);
    Bytes start = SearchValues(), end = SearchValues();
    const int start_count = static_cast<int>(R(m.Whole(ix) + 1)), end_count = static_cast<int>(R(m.Whole(ix) + 1));
    const bool open_start = R(5) == 0, open_end = R(5) == 0;
    c->SetRange(false, open_start ? nullptr : start.data(), start_count, open_end ? nullptr : end.data(), end_count);
    auto fields = [&](int count) { return count > 0 && count < m.Whole(ix) ? count : m.Whole(ix); };
    m.range = true;
    m.range_start = start;
    m.range_end = end;
    m.start_fields = open_start ? 0 : fields(start_count);
    m.end_fields = open_end ? 0 : fields(end_count);
    if (m.state != Model::On) {
      m.state = Model::Bof;
      m.at = 0;
    } else {
      m.Reposition();
    }
  }
  void CancelRange() {
    c->ResetRange();
    if (m.Physical()) return;
    m.range = false;
    m.Reposition();
  }
  void SelectIndex() {
    const int count = static_cast<int>(m.secondary.size());
    int p = static_cast<int>(R(count + 2));
    if (p == count + 1) p = 255;
    if (R(2) && p != 255 && (p != 0 || m.has_primary)) {
      const std::string name = p == 0 ? "" : m.secondary[p - 1].name;
      c->SetIndexName(R(2) ? name : " " + name + " ");
      if (p == m.pos || (p == 0 && m.pos == 0)) return;  // the same index again: nothing changes
    } else {
      c->SetIndexPos(static_cast<std::uint8_t>(p));
      if (p == m.pos) return;
    }
    m.range = false;
    m.pos = p;
    if (m.state == Model::On) {
      if (!m.Physical()) m.Reposition();
      else if (!m.live.count(m.at)) {
        // Physical order keeps a deleted current record as its place.
      }
    }
  }
  void GotoNumber() {
    const std::vector<std::uint32_t> visible = m.Visible();
    const std::uint32_t k = R(static_cast<std::uint32_t>(visible.size()) + 2);
    const TEngineErrorCode status = c->SetToRecordNumber(k);
    if (!m.Physical() && visible.empty()) {
      ASSERT_EQ(status, err::kNoCurrentRecord);
      m.state = Model::None;
      m.at = 0;
    } else if (k == 0 || k > visible.size()) {
      ASSERT_EQ(status, k == 0 ? err::kBeginningOfFile : err::kEndOfFile);
      m.state = k == 0 ? Model::Bof : Model::Eof;
      m.at = 0;
    } else {
      ASSERT_EQ(status, 0);
      m.Place(visible[k - 1]);
    }
  }
  void Bookmark() {
    // A bookmark of a live record (maybe outside the range) or of a gone one.
    std::uint32_t n = m.next + 3;
    if (!m.live.empty() && R(4)) {
      auto it = m.live.begin();
      std::advance(it, R(static_cast<std::uint32_t>(m.live.size())));
      n = it->first;
    }
    const bool answer = c->GotoPhysicalRecordNumber(n) == 0;
    if (!m.live.count(n)) {
      ASSERT_FALSE(answer);
      return;
    }
    if (m.Physical() || m.InRange(m.live.at(n))) {
      ASSERT_TRUE(answer);
      m.Place(n);
      return;
    }
    ASSERT_FALSE(answer);
    m.state = Model::On;
    m.at_bytes = m.live.at(n);
    m.Reposition();
  }
  // Index changes need an exclusive cursor: a shared run reopens.
  void ChangeIndexes() {
    if (!exclusive) {
      c->CloseCursor();
      c->SetExclusive(true);
      c->OpenCursor();
      m.pos = 0;
      m.range = false;
    }
    const bool add = m.secondary.size() < 3 && (m.secondary.empty() || R(2));
    if (add) {
      MIndex ix = RandomIndex(false);
      bool duplicates = false;
      if (ix.unique)
        for (auto& [n, r] : m.live)
          for (auto& [o, s] : m.live)
            if (n < o && m.Compare(ix, r, s, m.Whole(ix), 0, false) == 0) duplicates = true;
      TIndexDefinition d = Definition(ix);
      const int raised = RaisedNumber([&] { c->AddSecondaryIndex(d); });
      ASSERT_EQ(raised, duplicates ? err::kDuplicateKey : 0) << ix.name;
      if (!duplicates) {
        m.secondary.push_back(ix);
        m.SetToBegin();
      }
    } else {
      const int p = 1 + static_cast<int>(R(static_cast<std::uint32_t>(m.secondary.size())));
      if (R(2)) c->DeleteIndexByPos(static_cast<std::uint8_t>(p));
      else c->DeleteIndex(m.secondary[p - 1].name);
      m.secondary.erase(m.secondary.begin() + (p - 1));
      if (m.pos == p) m.pos = 0;
      else if (m.pos != 255 && m.pos > p) --m.pos;
      m.range = false;
      m.SetToBegin();
    }
    if (!exclusive) {
      c->CloseCursor();
      c->SetExclusive(false);
      Open();
    }
  }
};

// A scratch folder in memory where there is one: a shared cursor's every
// write ends in a journaled flush, and the disk's syncs are not what this
// test is about.
class MemoryScratch {
public:
  MemoryScratch() {
    std::string pattern = "/dev/shm/qv-cursor-XXXXXX";
    if (std::filesystem::is_directory("/dev/shm") && mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~MemoryScratch() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string Path(const qvtest::TempDir& fallback) const { return path_.empty() ? fallback.path().string() : path_; }

private:
  std::string path_;
};

void RandomIndexRun(unsigned seed, bool exclusive, int operations, int batch) {
  SCOPED_TRACE("seed " + std::to_string(seed) + (exclusive ? " exclusive" : " shared"));
  qvtest::TempDir tmp;
  MemoryScratch memory;
  Run run(seed, exclusive, memory.Path(tmp));
  run.Create();
  Model& m = run.m;
  for (int op = 0; op < operations; ++op) {
    const int kind = static_cast<int>(run.R(100));
    const char* what = "";
    try {
    if (kind < 22 && m.live.size() < 300) what = "append", run.Append();
    else if (kind < 22) what = "delete", run.Delete();
    else if (kind < 32) what = "modify", run.Modify();
    else if (kind < 40) what = "delete", run.Delete();
    else if (kind < 58) what = "move", run.Move(run.R(2) ? 1 : -1);
    else if (kind < 66) what = "find", run.Find();
    else if (kind < 70) what = "find exact", run.FindExact();
    else if (kind < 75) what = "set range", run.SetRange();
    else if (kind < 78) what = "cancel range", run.CancelRange();
    else if (kind < 84) what = "select index", run.SelectIndex();
    else if (kind < 89) what = "go to number", run.GotoNumber();
    else if (kind < 93) what = "bookmark", run.Bookmark();
    else if (kind < 95) what = "begin", run.c->SetToBegin(), m.SetToBegin();
    else if (kind < 97) what = "end", run.c->SetToEnd(), m.at = 0,
                        m.state = m.Physical() || !m.Visible().empty() ? Model::Eof : Model::None;
    else if (kind < 98) what = "indexes", run.ChangeIndexes();
    else what = "walk", run.Walk();
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what() << " in operation " << op << " (" << what << ") index " << m.pos;
      return;
    }
    if (::testing::Test::HasFatalFailure()) {
      ADD_FAILURE() << "operation " << op << " (" << what << ") index " << m.pos << " range " << m.range;
      return;
    }
    run.CheckPlace(what);
    if (::testing::Test::HasFatalFailure()) {
      ADD_FAILURE() << "after operation " << op << " (" << what << ") index " << m.pos << " range " << m.range;
      return;
    }
    if (op % batch == batch - 1) {
      run.Walk();
      run.c->CloseCursor();
      run.Check();
      run.Open();
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
}

TEST(CursorIndex, ModelRun) {
  // 10^5 operations over both sharing modes; QV_CURSOR_SEED repeats a run.
  const char* fixed = std::getenv("QV_CURSOR_SEED");
  const unsigned base = fixed ? static_cast<unsigned>(std::stoul(fixed)) : std::random_device{}();
  const int runs = fixed ? 1 : 10;
  for (int i = 0; i < runs; ++i) {
    RandomIndexRun(base + i, (base + i) % 2 == 0, 10000, 5000);
    if (::testing::Test::HasFailure()) {
      ADD_FAILURE() << "QV_CURSOR_SEED=" << base + i;
      return;
    }
  }
}


// ---- edge cases -------------------------------------------------------------------

struct Table {
  qvtest::TempDir tmp;
  std::unique_ptr<Env> env = std::make_unique<Env>(tmp.path().string());
  std::unique_ptr<TDataCursor> c;
  std::vector<TFieldDefinition> fields;

  Table(std::vector<TFieldDefinition> f, std::vector<TIndexDefinition> indexes, std::uint16_t language = 0,
        bool exclusive = true)
      : fields(std::move(f)) {
    TTableCreation creation;
    creation.Settings.LanguageID = language;
    creation.Indexes = std::move(indexes);
    Cursor(env->dir, true)->CreateTable(creation, fields);
    c = Cursor(env->dir, exclusive);
    c->OpenCursor();
  }
  Bytes Record(const std::string& name, std::int32_t year = 0) {
    Bytes b(c->GetRecordSize(), 0);
    c->PutField(1, b.data(), reinterpret_cast<const std::uint8_t*>(name.c_str()));
    if (c->GetFieldCount() > 1 && c->GetFieldDefinitionByPos(2).DataType == dtInteger)
      c->PutField(2, b.data(), reinterpret_cast<const std::uint8_t*>(&year));
    return b;
  }
  int Append(const std::string& name, std::int32_t year = 0) {
    Bytes b = Record(name, year);
    return RaisedNumber([&] { c->AppendRecord(b.data()); });
  }
  // Physical numbers in the current order.
  std::vector<std::uint32_t> Walk() {
    std::vector<std::uint32_t> seen;
    Bytes b(c->GetRecordSize());
    for (c->SetToBegin(); c->GetNextRecord(b.data()) == 0;) seen.push_back(c->GetPhysicalRecordNumber());
    return seen;
  }
  std::string Name() {
    Bytes b(c->GetRecordSize());
    if (c->GetCurrentRecord(b.data(), false) != 0) return "<none>";
    return reinterpret_cast<const char*>(b.data() + c->GetFieldDefinitionByPos(1).Offset + 1);
  }
  CheckResult Check() {
    c->CloseCursor();
    CheckResult r = RunTableCheck(tmp.path().string() + "/t.DAT");
    c->OpenCursor();
    return r;
  }
};

std::vector<TFieldDefinition> NameYearId() {
  return {Field("Name", dtString, 20), Field("Year", dtInteger), Field("Id", dtInteger, 0, fstAutoInc)};
}

TEST(CursorIndex, DeletedRecordsAreReusedOnlyUnderAPrimaryKey) {
  for (bool primary : {true, false}) {
    SCOPED_TRACE(primary ? "primary key" : "no primary key");
    Table t(NameYearId(), {primary ? Ix("", {3}) : Ix("", {}), Ix("ByName", {1}, false)});
    for (int i = 1; i <= 10; ++i) ASSERT_EQ(t.Append("n" + std::to_string(i)), 0);
    for (std::uint32_t n : {5u, 9u}) {
      ASSERT_EQ(t.c->GotoPhysicalRecordNumber(n), 0);
      Bytes b(t.c->GetRecordSize());
      ASSERT_EQ(t.c->GetCurrentRecord(b.data(), false), 0);
      t.c->DeleteRecord(b.data());
    }
    std::vector<std::uint32_t> places;
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(t.Append("new" + std::to_string(i)), 0);
      places.push_back(t.c->GetPhysicalRecordNumber());
    }
    EXPECT_EQ(places, primary ? std::vector<std::uint32_t>({9, 5, 11}) : std::vector<std::uint32_t>({11, 12, 13}));
    EXPECT_EQ(t.c->GetRecordCount(), 11u);
    CheckResult check = t.Check();
    EXPECT_EQ(check.status, 0) << check.output;
  }
}

TEST(CursorIndex, KeysEqualUnderTheLanguageAreOneKey) {
  // Spanish: accents are ignored, case is not.
  Table t({Field("Name", dtString, 20)}, {Ix("", {}), Ix("ByName", {1})}, MakeLanguageID(10, 1));
  ASSERT_EQ(t.Append("Jose"), 0);
  Bytes b(t.c->GetRecordSize());
  ASSERT_EQ(t.c->GetCurrentRecord(b.data(), false), 0);
  ASSERT_EQ(t.c->GetCurrentRecord(b.data(), true), 0);
  t.c->PutField(1, b.data(), reinterpret_cast<const std::uint8_t*>("Jos\xE9"));
  EXPECT_EQ(RaisedNumber([&] { t.c->ModifyRecord(b.data(), true); }), 0) << "its own key is no duplicate";
  EXPECT_EQ(t.Name(), "Jos\xE9");
  EXPECT_EQ(t.Append("Jose"), err::kDuplicateKey);
  EXPECT_EQ(t.Append("JOSE"), 0);
  EXPECT_EQ(t.c->GetRecordCount(), 2u);
  CheckResult check = t.Check();
  EXPECT_EQ(check.status, 0) << check.output;
}

TEST(CursorIndex, LongestKeys) {
  // Key fields of 524 bytes: 528 with the record ID of a non-unique index.
  Table t({Field("A", dtString, 250), Field("B", dtString, 250), Field("C", dtString, 18)},
          {Ix("", {}), Ix("All", {1, 2, 3}, false), Ix("Desc", {1, 2, 3}, false, true)});
  std::mt19937 rng(7);
  for (int i = 0; i < 60; ++i) {
    Bytes b(t.c->GetRecordSize(), 0);
    for (int f = 1; f <= 3; ++f) {
      std::string s(f == 3 ? 18 : 250, static_cast<char>('a' + rng() % 3));
      s.back() = static_cast<char>('a' + i % 7);
      t.c->PutField(f, b.data(), reinterpret_cast<const std::uint8_t*>(s.c_str()));
    }
    t.c->AppendRecord(b.data());
  }
  for (std::uint8_t pos : {1, 2}) {
    t.c->SetIndexPos(pos);
    EXPECT_EQ(t.Walk().size(), 60u);
    Bytes b(t.c->GetRecordSize());
    t.c->SetToRecordNumber(30);
    ASSERT_EQ(t.c->GetCurrentRecord(b.data(), false), 0);
    EXPECT_TRUE(t.c->FindExact(b.data(), nullptr));
    t.c->SetRange(false, b.data(), 0, b.data(), 0);
    EXPECT_GE(t.c->GetRecordCount(), 1u);
  }
  CheckResult check = t.Check();
  EXPECT_EQ(check.status, 0) << check.output;
}

TEST(CursorIndex, ADeleteLeavesTheCursorOnTheNextKey) {
  // Thousands of keys, so deletes cross leaf edges and empty leaves: after
  // each delete the cursor stands on the key that followed the deleted one
  // in the order walked before (past the last: at the end), in key order
  // and in a name order, with and without a language; from there it reads
  // that record, its buffer, or moves on and back.
  for (std::uint16_t language : {std::uint16_t{0}, MakeLanguageID(10, 1)}) {
    for (bool by_name : {false, true}) {
      SCOPED_TRACE(std::string(language ? "language " : "bytes ") + (by_name ? "by name" : "by key"));
      Table t(NameYearId(), {Ix("", {3}), Ix("ByName", {1}, false)}, language);
      std::mt19937 rng(language + by_name);
      for (std::int32_t tag = 1; tag <= 3000; ++tag) {
        std::string name(1 + rng() % 12, 'a');
        for (char& ch : name) ch = "abcdhlnAEIOU\xE9\xF1 "[rng() % 15];
        ASSERT_EQ(t.Append(name, tag), 0);
      }
      if (by_name) t.c->SetIndexName("ByName");
      else t.c->SetIndexPos(0);
      Bytes b(t.c->GetRecordSize());
      auto tag_of = [&] {
        std::int32_t tag = 0;
        std::memcpy(&tag, b.data() + t.c->GetFieldDefinitionByPos(2).Offset + 1, 4);
        return tag;
      };
      std::vector<std::int32_t> order;                // tags in the index's order
      std::map<std::int32_t, std::uint32_t> numbers;  // tag -> physical number
      for (t.c->SetToBegin(); t.c->GetNextRecord(b.data()) == 0;) {
        order.push_back(tag_of());
        numbers[order.back()] = t.c->GetPhysicalRecordNumber();
      }
      ASSERT_EQ(order.size(), 3000u);
      // Single deletes anywhere, runs of deletes from the first key (each
      // deleting the record the one before left current), and the last key.
      for (int i = 0; i < 300; ++i) {
        std::size_t at = i % 100 == 0 ? 0 : i % 37 == 0 ? order.size() - 1 : rng() % order.size();
        ASSERT_EQ(t.c->GotoPhysicalRecordNumber(numbers.at(order[at])), 0);
        for (int run = at == 0 ? 400 : 1; run > 0; --run) {
          ASSERT_EQ(t.c->GetCurrentRecord(b.data(), false), 0);
          ASSERT_EQ(tag_of(), order[at]);
          t.c->DeleteRecord(b.data());
          order.erase(order.begin() + static_cast<std::ptrdiff_t>(at));
          if (at == order.size()) break;
        }
        if (at == order.size()) {
          ASSERT_TRUE(t.c->AtEnd());
          ASSERT_NE(t.c->GetCurrentRecord(b.data(), false), 0);
        } else if (i % 3 == 1) {
          const TEngineErrorCode next = t.c->GetNextRecord(b.data());
          if (at + 1 == order.size()) {
            ASSERT_EQ(next, err::kEndOfFile);
          } else {
            ASSERT_EQ(next, 0);
            ASSERT_EQ(tag_of(), order[at + 1]);
          }
          ASSERT_EQ(t.c->GetPriorRecord(b.data()), 0);
          ASSERT_EQ(tag_of(), order[at]) << "back after deleting at " << at;
        } else if (i % 3 == 2) {
          std::memcpy(b.data(), t.c->GetCurrentRecordBuffer(), b.size());
          ASSERT_EQ(tag_of(), order[at]) << "buffer after deleting at " << at;
        } else {
          ASSERT_EQ(t.c->GetCurrentRecord(b.data(), false), 0);
          ASSERT_EQ(tag_of(), order[at]) << "after deleting at " << at;
        }
      }
      std::vector<std::int32_t> walked;
      for (t.c->SetToBegin(); t.c->GetNextRecord(b.data()) == 0;) walked.push_back(tag_of());
      EXPECT_EQ(walked, order);
      CheckResult check = t.Check();
      EXPECT_EQ(check.status, 0) << check.output;
    }
  }
}

TEST(CursorIndex, PositionsAtTheEdges) {
  Table t(NameYearId(), {Ix("", {3}), Ix("ByName", {1}, false), Ix("ByYear", {2}, true, true)});
  Bytes b(t.c->GetRecordSize());
  // An empty table: no record at all.
  t.c->SetToBegin();
  EXPECT_TRUE(t.c->AtBegin() && t.c->AtEnd());
  EXPECT_EQ(t.c->GetNextRecord(b.data()), err::kEndOfFile);
  struct Row {
    const char* name;
    std::int32_t year;
  };
  for (Row r : {Row{"b", 1900}, Row{"a", 1850}, Row{"b", 1700}, Row{"c", 1950}, Row{"b", 1800}})
    ASSERT_EQ(t.Append(r.name, r.year), 0);
  t.c->SetIndexName("byname");
  EXPECT_EQ(t.c->SetToRecordNumber(0), err::kBeginningOfFile);
  EXPECT_TRUE(t.c->AtBegin());
  EXPECT_EQ(t.c->SetToRecordNumber(6), err::kEndOfFile);
  EXPECT_TRUE(t.c->AtEnd());
  EXPECT_EQ(t.c->SetToRecordNumber(5), 0);
  EXPECT_EQ(t.Name(), "c");
  // A key above every key: the last record.
  Bytes z = t.Record("zz");
  EXPECT_FALSE(t.c->Find(false, z.data(), 1, true, 0, nullptr));
  EXPECT_EQ(t.Name(), "c");
  // Every duplicate in a range over all key fields of a non-unique index.
  Bytes key = t.Record("b");
  t.c->SetRange(false, key.data(), 0, key.data(), 0);
  EXPECT_EQ(t.c->GetRecordCount(), 3u);
  EXPECT_EQ(t.Walk().size(), 3u);
  // Selecting the same index again keeps the range.
  t.c->SetIndexName(" BYNAME ");
  EXPECT_TRUE(t.c->RangeActive());
  EXPECT_EQ(t.c->GetRecordCount(), 3u);
  // Start above end: nothing.
  Bytes a = t.Record("a");
  t.c->SetRange(false, key.data(), 1, a.data(), 1);
  EXPECT_EQ(t.c->GetRecordCount(), 0u);
  EXPECT_EQ(t.c->GetNextRecord(b.data()), err::kEndOfFile);
  // An unknown name: 10022, and the range is gone.
  EXPECT_EQ(RaisedNumber([&] { t.c->SetIndexName("nope"); }), err::kInvalidIndexName);
  EXPECT_FALSE(t.c->RangeActive());
  // Descending by year: the latest first.
  t.c->SetIndexPos(2);
  std::vector<std::string> names;
  for (t.c->SetToBegin(); t.c->GetNextRecord(b.data()) == 0;) names.push_back(t.Name());
  EXPECT_EQ(names, (std::vector<std::string>{"c", "b", "a", "b", "b"}));
  // Partial search: the first name beginning so.
  t.c->SetIndexPos(1);
  Bytes prefix = t.Record("bee");
  EXPECT_TRUE(t.c->Find(false, prefix.data(), 0, false, 1, nullptr));
  EXPECT_EQ(t.c->GetRecordNumber(), 2u);
}

TEST(CursorIndex, AddingAndDeletingIndexes) {
  Table t(NameYearId(), {Ix("", {})});
  for (const char* name : {"b", "a", "b", "c"}) ASSERT_EQ(t.Append(name), 0);
  std::vector<int> percents;
  t.c->SetIndexProgressCallback(
      [](void* user, std::uint32_t, std::uint8_t percent) {
        static_cast<std::vector<int>*>(user)->push_back(percent);
        return true;
      },
      &percents);
  // A unique index the records break: refused, nothing lost.
  TIndexDefinition unique = Ix("U", {1});
  EXPECT_EQ(RaisedNumber([&] { t.c->AddSecondaryIndex(unique); }), err::kDuplicateKey);
  EXPECT_EQ(t.c->GetIndexCount(), 0);
  TIndexDefinition primary = Ix("", {1});
  EXPECT_EQ(RaisedNumber([&] { t.c->AddPrimaryIndex(primary); }), err::kDuplicateKey);
  EXPECT_TRUE(t.c->GetNoPrimaryIndex());
  EXPECT_EQ(t.c->GetRecordCount(), 4u);
  // One that holds.
  percents.clear();
  TIndexDefinition by_name = Ix("ByName", {1}, false, true);
  t.c->AddSecondaryIndex(by_name);
  EXPECT_EQ(by_name.KeySize, 21 + 1 + 4);
  EXPECT_EQ(percents, (std::vector<int>{25, 50, 75, 100}));
  TIndexDefinition wide = Ix("Wide", {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, false);
  t.c->AddSecondaryIndex(wide);  // 16 x 22 = 352 bytes
  t.c->SetIndexName("ByName");
  std::vector<std::string> names;
  Bytes b(t.c->GetRecordSize());
  for (t.c->SetToBegin(); t.c->GetNextRecord(b.data()) == 0;) names.push_back(t.Name());
  EXPECT_EQ(names, (std::vector<std::string>{"c", "b", "b", "a"}));
  EXPECT_EQ(RaisedNumber([&] { t.c->DeleteIndex("nope"); }), err::kInvalidIndexName);
  t.c->DeleteIndex("byname");
  EXPECT_EQ(t.c->GetIndexPos(), 0);
  EXPECT_EQ(t.c->GetIndexCount(), 1);
  TIndexDefinition d;
  t.c->GetIndexDefinition(1, d);
  EXPECT_EQ(d.Name, "Wide");
  CheckResult check = t.Check();
  EXPECT_EQ(check.status, 0) << check.output;
  // Index changes want an exclusive, writable cursor.
  t.c->CloseCursor();
  t.c->SetExclusive(false);
  t.c->OpenCursor();
  TIndexDefinition other = Ix("Other", {2});
  EXPECT_EQ(RaisedNumber([&] { t.c->AddSecondaryIndex(other); }), err::kNeedsExclusive);
}

// An edit inside a transaction that leaves every index's fields alone
// changes the record where it lies; whether it does follows the indexes
// as they are at the time of each edit, also after indexes came and went
// on the same cursor.
TEST(CursorIndex, EditsInATransactionFollowTheIndexesOfTheirTime) {
  Table t(NameYearId(), {Ix("", {3})});
  std::vector<std::pair<std::string, std::int32_t>> model;
  for (int i = 0; i < 40; ++i) {
    model.emplace_back("n" + std::to_string((i * 7) % 40 + 100), 1900 + (i * 13) % 40);
    ASSERT_EQ(t.Append(model.back().first, model.back().second), 0);
  }
  // Edits every record in a transaction: year, name or both.
  auto edit = [&](int round, bool names, bool years) {
    t.env->dir->StartTransaction();
    t.c->SetIndexPos(0);
    Bytes b(t.c->GetRecordSize());
    std::size_t i = 0;
    for (t.c->SetToBegin(); t.c->GetNextRecord(b.data()) == 0; ++i) {
      auto& [name, year] = model[t.c->GetRecordID(b.data()) - 1];
      if (names) name = "m" + std::to_string((i * 11 + round) % 40 + 100);
      if (years) year = 1800 + static_cast<std::int32_t>((i * 17 + round * 5) % 40);
      Bytes changed = t.Record(name, year);
      t.c->ModifyRecord(changed.data(), true, false);
    }
    t.env->dir->CommitTransaction(true);
  };
  // Every record once, in the order of `index`: the model's order.
  auto expect_order = [&](const char* index, bool by_year) {
    t.c->SetIndexName(index);
    std::vector<std::string> seen, want;
    Bytes b(t.c->GetRecordSize());
    for (t.c->SetToBegin(); t.c->GetNextRecord(b.data()) == 0;) {
      const auto& [name, year] = model[t.c->GetRecordID(b.data()) - 1];
      seen.push_back(by_year ? std::to_string(year) : name);
    }
    for (const auto& [name, year] : model) want.push_back(by_year ? std::to_string(year) : name);
    std::sort(want.begin(), want.end());
    EXPECT_EQ(seen, want) << index;
    CheckResult check = t.Check();
    EXPECT_EQ(check.status, 0) << check.output;
  };
  edit(1, false, true);  // no index on the year yet
  TIndexDefinition by_year = Ix("ByYear", {2}, false);
  t.c->AddSecondaryIndex(by_year);
  edit(2, false, true);
  expect_order("ByYear", true);
  edit(3, true, false);  // names only: the years' index stays right
  expect_order("ByYear", true);
  t.c->DeleteIndex("ByYear");
  TIndexDefinition by_name = Ix("ByName", {1}, false);
  t.c->AddSecondaryIndex(by_name);
  edit(4, true, true);
  expect_order("ByName", false);
}

TEST(CursorIndex, AMissingIndexFileIsMadeAgain) {
  std::string dir;
  auto t = std::make_unique<Table>(NameYearId(), std::vector<TIndexDefinition>{Ix("", {3}), Ix("ByName", {1})});
  for (const char* name : {"b", "a", "c", "d"}) ASSERT_EQ(t->Append(name), 0);
  ASSERT_EQ(t->c->GotoPhysicalRecordNumber(2), 0);
  Bytes b(t->c->GetRecordSize());
  ASSERT_EQ(t->c->GetCurrentRecord(b.data(), false), 0);
  t->c->DeleteRecord(b.data());
  t->c->CloseCursor();
  const std::string path = t->tmp.path().string();
  std::filesystem::remove(path + "/t.IDX");
  t->c->OpenCursor();
  EXPECT_FALSE(t->c->Table()->IndexCreatedAnew());
  EXPECT_TRUE(t->c->GetNoPrimaryIndex());
  EXPECT_EQ(t->c->GetIndexCount(), 0);
  EXPECT_EQ(t->c->GetRecordCount(), 3u);
  EXPECT_EQ(t->Walk(), (std::vector<std::uint32_t>{1, 3, 4}));
  CheckResult check = t->Check();
  EXPECT_EQ(check.status, 0) << check.output;
  // A read-only cursor makes it again as well (an empty index file left
  // behind would hide every record); a table whose files can only be read
  // cannot have one made: it is refused and nothing is written.
  for (bool files_read_only : {false, true}) {
    SCOPED_TRACE(files_read_only ? "read-only files" : "read-only cursor");
    t->c->CloseCursor();
    std::filesystem::remove(path + "/t.IDX");
    const std::string dat = qvtest::ReadFileBytes(path + "/t.DAT");
    if (files_read_only) {
      ASSERT_EQ(::chmod((path + "/t.DAT").c_str(), 0444), 0);
    }
    t->c->SetReadOnly(true);
    const int error = RaisedNumber([&] { t->c->OpenCursor(); });
    if (files_read_only) {
      t->c->SetReadOnly(false);
      EXPECT_EQ(error, err::kAccessDenied);
      EXPECT_FALSE(std::filesystem::exists(path + "/t.IDX"));
      EXPECT_EQ(qvtest::ReadFileBytes(path + "/t.DAT"), dat);
      ASSERT_EQ(::chmod((path + "/t.DAT").c_str(), 0644), 0);
      t->c->OpenCursor();
    } else {
      ASSERT_EQ(error, 0);
    }
    EXPECT_EQ(t->c->GetRecordCount(), 3u);
    EXPECT_EQ(t->Walk(), (std::vector<std::uint32_t>{1, 3, 4}));
    check = t->Check();
    EXPECT_EQ(check.status, 0) << check.output;
  }
}


TEST(CursorIndex, AWalkStaysInOrderWhileAnotherSessionWrites) {
  qvtest::TempDir tmp;
  const std::string dir = tmp.path().string();
  Env one(dir), two(dir);
  {
    TTableCreation creation;
    creation.Indexes = {Ix("", {}), Ix("ByName", {1}, false)};
    std::vector<TFieldDefinition> fields{Field("Name", dtString, 8)};
    Cursor(one.dir, true)->CreateTable(creation, fields);
  }
  auto a = Cursor(one.dir, false), b = Cursor(two.dir, false);
  a->OpenCursor();
  b->OpenCursor();
  std::mt19937 rng(11);
  auto name = [&] { return std::string(1, static_cast<char>('a' + rng() % 20)) + static_cast<char>('a' + rng() % 20); };
  Bytes buffer(b->GetRecordSize());
  auto append = [&] {
    std::fill(buffer.begin(), buffer.end(), 0);
    const std::string s = name();
    b->PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>(s.c_str()));
    b->AppendRecord(buffer.data());
  };
  for (int i = 0; i < 300; ++i) append();
  a->SetIndexName("ByName");
  // (name, record ID) of a record buffer: the index's order.
  auto key = [&](const Bytes& r) {
    return std::make_pair(std::string(reinterpret_cast<const char*>(r.data() + 10)), rtl::DecodeFixed32(r.data() + 5));
  };
  Bytes seen(a->GetRecordSize()), stored(b->GetRecordSize());
  std::pair<std::string, std::uint32_t> last{"", 0};
  int steps = 0;
  for (a->SetToBegin(); a->GetNextRecord(seen.data()) == 0; ++steps) {
    ASSERT_LT(steps, 1000);
    ASSERT_GT(key(seen), last) << "step " << steps;
    last = key(seen);
    // What the other session holds for the record is what the walk gave.
    ASSERT_EQ(b->GotoPhysicalRecordNumber(a->GetPhysicalRecordNumber()), 0);
    ASSERT_EQ(b->GetCurrentRecord(stored.data(), false), 0);
    ASSERT_EQ(stored, seen);
    // Its number among the live records in the index's order.
    std::vector<std::pair<std::string, std::uint32_t>> all;
    for (b->SetToBegin(); b->GetNextRecord(stored.data()) == 0;) all.push_back(key(stored));
    std::sort(all.begin(), all.end());
    ASSERT_EQ(a->GetRecordNumber(), std::lower_bound(all.begin(), all.end(), key(seen)) - all.begin() + 1);
    // The other session appends, changes or deletes a random record.
    const std::uint32_t n = 1 + rng() % 300;
    switch (rng() % 3) {
      case 0:
        append();
        break;
      case 1:
        if (b->GotoPhysicalRecordNumber(n) == 0 && b->GetCurrentRecord(buffer.data(), false) == 0 &&
            b->GetCurrentRecord(buffer.data(), true) == 0) {
          const std::string s = name();
          b->PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>(s.c_str()));
          b->ModifyRecord(buffer.data(), true);
        }
        break;
      default:
        if (b->GotoPhysicalRecordNumber(n) == 0 && b->GetCurrentRecord(buffer.data(), false) == 0)
          b->DeleteRecord(buffer.data());
    }
  }
  EXPECT_GT(steps, 100);
  a->CloseCursor();
  b->CloseCursor();
  CheckResult check = RunTableCheck(dir + "/t.DAT");
  EXPECT_EQ(check.status, 0) << check.output;
}

}  // namespace
}  // namespace korvex::testing

namespace korvex::testing {
namespace {

// Bookmarks in every kind of order: physical (with and without a primary
// key), unique, non-unique, descending and case-insensitive indexes. In
// each the bookmarks of a walk rise strictly, lead back to their records,
// and a deleted record's bookmark lands on its successor.
TEST(CursorIndex, BookmarksFollowTheCurrentOrder) {
  struct Case {
    bool primary;
    std::string index;  // "" physical (no primary) or the primary key
    bool physical;
  };
  const Case cases[] = {{false, "", true},         {true, "", false},          {false, "ByName", false},
                        {false, "ByYear", false},  {false, "ByYearDown", false}, {false, "ByNameCI", false},
                        {true, "ByYear", false}};
  const std::vector<std::pair<std::string, std::int32_t>> rows{
      {"carl", 1900}, {"Anna", 1850}, {"berta", 1900}, {"dora", 1850}, {"emil", 1875}, {"fritz", 1900}};
  for (const Case& k : cases) {
    SCOPED_TRACE((k.primary ? "primary, " : "no primary, ") + (k.index.empty() ? "first order" : k.index));
    Table t(NameYearId(), {k.primary ? Ix("", {3}) : Ix("", {}), Ix("ByName", {1}), Ix("ByYear", {2}, false),
                           Ix("ByYearDown", {2}, false, true), Ix("ByNameCI", {1}, true, false, true)});
    for (const auto& [name, year] : rows) ASSERT_EQ(t.Append(name, year), 0);
    t.c->SetIndexName(k.index);
    ASSERT_EQ(t.c->IsPhysicalNavigation(), k.physical);
    const std::uint16_t size = t.c->GetBookmarkSize();
    EXPECT_EQ(size, k.physical ? 4 : t.c->GetKeySize());
    if (!k.physical) {
      EXPECT_GT(size, 4) << "a key entry, not a record number";
    }

    // Off a record the bookmark is zeros.
    t.c->SetToBegin();
    Bytes none(size, 0xAA);
    t.c->GetBookmark(none.data());
    EXPECT_EQ(none, Bytes(size, 0));

    const std::vector<std::uint32_t> order = t.Walk();
    ASSERT_EQ(order.size(), rows.size());
    std::vector<Bytes> marks;
    Bytes b(t.c->GetRecordSize());
    for (t.c->SetToBegin(); t.c->GetNextRecord(b.data()) == 0;) {
      marks.emplace_back(size);
      t.c->GetBookmark(marks.back().data());
    }
    for (std::size_t i = 0; i < marks.size(); ++i)
      for (std::size_t j = 0; j < marks.size(); ++j) {
        const int expected = i < j ? -1 : i > j ? 1 : 0;
        EXPECT_EQ(t.c->CompareBookmarks(marks[i].data(), marks[j].data()), expected) << i << " vs " << j;
      }
    for (std::size_t i = 0; i < marks.size(); ++i) {
      t.c->SetToEnd();
      EXPECT_TRUE(t.c->SetToBookmark(marks[i].data())) << i;
      EXPECT_EQ(t.c->GetPhysicalRecordNumber(), order[i]) << i;
    }
    if (!k.physical) {
      // Kept at the ends: before the first, after the last.
      t.c->SetToBegin();
      EXPECT_TRUE(t.c->SetToBookmark(marks.front().data(), true));
      ASSERT_EQ(t.c->GetNextRecord(b.data()), 0);
      EXPECT_EQ(t.c->GetPhysicalRecordNumber(), order.front());
      t.c->SetToEnd();
      EXPECT_TRUE(t.c->SetToBookmark(marks.back().data(), true));
      ASSERT_EQ(t.c->GetPriorRecord(b.data()), 0);
      EXPECT_EQ(t.c->GetPhysicalRecordNumber(), order.back());
      // Not at an end: the cursor goes to the record.
      t.c->SetToBegin();
      EXPECT_TRUE(t.c->SetToBookmark(marks[2].data(), true, true));
      EXPECT_EQ(t.c->GetPhysicalRecordNumber(), order[2]);
    }

    // A deleted record: false; under an index the cursor stands on the
    // record that followed it.
    ASSERT_TRUE(t.c->SetToBookmark(marks[2].data()));
    ASSERT_EQ(t.c->GetCurrentRecord(b.data(), false), 0);
    t.c->DeleteRecord(b.data());
    EXPECT_FALSE(t.c->SetToBookmark(marks[2].data()));
    if (!k.physical) {
      EXPECT_EQ(t.c->GetPhysicalRecordNumber(), order[3]);
    }
    EXPECT_TRUE(t.c->SetToBookmark(marks[1].data()));
    EXPECT_EQ(t.c->GetPhysicalRecordNumber(), order[1]);
  }
}

TEST(CursorIndex, BookmarkOnAnEmptyRangeFails) {
  Table t(NameYearId(), {Ix("", {}), Ix("ByName", {1})});
  for (const char* name : {"Anna", "berta", "carl"}) ASSERT_EQ(t.Append(name), 0);
  t.c->SetIndexName("ByName");
  t.c->SetToBegin();
  Bytes b(t.c->GetRecordSize()), mark(t.c->GetBookmarkSize());
  ASSERT_EQ(t.c->GetNextRecord(b.data()), 0);
  t.c->GetBookmark(mark.data());
  Bytes low = t.Record("x"), high = t.Record("y");
  t.c->SetRange(false, low.data(), 1, high.data(), 1);
  EXPECT_FALSE(t.c->SetToBookmark(mark.data()));
  EXPECT_FALSE(t.c->SetToBookmark(mark.data(), true));
  t.c->ResetRange();
  EXPECT_TRUE(t.c->SetToBookmark(mark.data()));
  EXPECT_EQ(t.Name(), "Anna");
}

}  // namespace
}  // namespace korvex::testing
