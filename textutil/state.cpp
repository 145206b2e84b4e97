#include "textutil/state.h"

#include "platform/runtime/format_settings.h"

namespace textutil {
namespace {

// AlphaNumSet is AlphaSet with the blank and the ten digits.
void RebuildAlphaNum(UnitState& st) {
  st.AlphaSet.Add(' ');
  st.AlphaNumSet = st.AlphaSet;
  for (char c = '0'; c <= '9'; ++c) st.AlphaNumSet.Add(c);
}

void ResetCase(UnitState& st) {
  st.LowerSet.Clear();
  st.UpperSet.Clear();
  st.AlphaSet.Clear();
  for (int c = 0; c < 256; ++c)
    st.CaseSwapTable[c] = st.LowerTable[c] = st.UpperTable[c] = static_cast<uint8_t>(c);
}

void CopySeparators(UnitState& st) {
  const rtl::TFormatSettings& fs = rtl::FormatSettings();
  st.DecimalSep = fs.DecimalSeparator ? fs.DecimalSeparator : '.';
  st.TimeSep = fs.TimeSeparator ? fs.TimeSeparator : ':';
  st.DateSep = fs.DateSeparator ? fs.DateSeparator : '/';
  st.ThousandSep = fs.ThousandSeparator ? fs.ThousandSeparator : ',';
}

}  // namespace

UnitState::UnitState() {
  CopySeparators(*this);
  ResetCase(*this);
  for (int c = 'A'; c <= 'Z'; ++c) {
    LowerTable[c] = CaseSwapTable[c] = static_cast<uint8_t>(c + 32);
    UpperTable[c + 32] = CaseSwapTable[c + 32] = static_cast<uint8_t>(c);
    UpperSet.Add(static_cast<unsigned char>(c));
    LowerSet.Add(static_cast<unsigned char>(c + 32));
    AlphaSet.Add(static_cast<unsigned char>(c));
    AlphaSet.Add(static_cast<unsigned char>(c + 32));
  }
  RebuildAlphaNum(*this);
}

UnitState& MutableState() {
  static UnitState state;
  return state;
}

const UnitState& State() { return MutableState(); }

void LoadSeparators() { CopySeparators(MutableState()); }

bool SetCaseTable(const std::string& lower, const std::string& upper) {
  if (lower.empty() || lower.size() != upper.size()) return false;
  UnitState& st = MutableState();
  ResetCase(st);
  for (size_t i = 0; i < lower.size(); ++i) {
    auto l = static_cast<unsigned char>(lower[i]);
    auto u = static_cast<unsigned char>(upper[i]);
    st.CaseSwapTable[l] = st.UpperTable[l] = u;
    st.AlphaSet.Add(l);
    st.LowerSet.Add(l);
  }
  // The upper-case pass runs second, so a character listed in both strings
  // swaps to its lower-case partner.
  for (size_t i = 0; i < lower.size(); ++i) {
    auto l = static_cast<unsigned char>(lower[i]);
    auto u = static_cast<unsigned char>(upper[i]);
    st.CaseSwapTable[u] = st.LowerTable[u] = l;
    st.AlphaSet.Add(u);
    st.UpperSet.Add(u);
  }
  RebuildAlphaNum(st);
  ++st.CaseGeneration;
  return true;
}

bool SetDelimiter(char c) {
  if (c == '\0') return false;
  UnitState& st = MutableState();
  st.Delimiter = c;
  st.Delimiter2 = std::string(1, c) + '\0';
  return true;
}

char GetDelimiter() { return State().Delimiter; }

bool SetDelimiter2(const std::string& s) {
  if (s.empty() || s.size() > 2) return false;
  UnitState& st = MutableState();
  st.Delimiter = s[0];
  st.Delimiter2 = s.size() == 2 ? s : s + '\0';
  return true;
}

std::string GetDelimiter2() { return State().Delimiter2; }

int GetRefCnt(const std::string& s) { return s.empty() ? 0 : 1; }

std::string SetStrAddr(const char* addr) { return addr ? std::string(addr) : std::string(); }

}  // namespace textutil
