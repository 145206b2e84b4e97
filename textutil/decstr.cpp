#include "textutil/decstr.h"

#include <algorithm>
#include <vector>

#include "textutil/codecs.h"

namespace textutil {
namespace {

bool IsZero(std::string_view a) { return a.empty() || a[0] == '0'; }
bool IsNeg(std::string_view a) { return !a.empty() && a[0] == '-'; }
// The digits after the sign. Magnitudes are never read as signed again, so
// a text of several '-' cannot make the routines call one another forever.
std::string_view Mag(std::string_view a) { return IsNeg(a) ? a.substr(1) : a; }

// Sums and differences read a run of leading '-' as that many negations:
// "--5" is 5, as subtracting "-5" from zero gives. The digits follow the
// last '-'.
std::string_view SumMag(std::string_view a) {
  const size_t first = a.find_first_not_of('-');
  return first == std::string_view::npos ? std::string_view() : a.substr(first);
}
bool SumNeg(std::string_view a) { return (a.size() - SumMag(a).size()) % 2 == 1; }

int DigitValue(char c) { return static_cast<unsigned char>(c) & 15; }

std::string StripZeros(std::string digits) {
  size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return "0";
  digits.erase(0, first);
  return digits;
}

std::string Signed(bool negative, std::string magnitude) {
  magnitude = StripZeros(std::move(magnitude));
  if (negative && magnitude != "0") magnitude.insert(magnitude.begin(), '-');
  return magnitude;
}

std::string_view SkipZeros(std::string_view mag) {
  size_t first = mag.find_first_not_of('0');
  return first == std::string_view::npos ? std::string_view() : mag.substr(first);
}

// Magnitude order: longer is greater, then character by character.
int CmpMag(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return static_cast<int>(a.size()) - static_cast<int>(b.size());
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]);
  return 0;
}

std::string AddMag(std::string_view a, std::string_view b) {
  std::string out;
  out.reserve(std::max(a.size(), b.size()) + 1);
  int carry = 0;
  size_t i = a.size(), j = b.size();
  while (i > 0 || j > 0 || carry > 0) {
    int sum = carry;
    if (i > 0) sum += DigitValue(a[--i]);
    if (j > 0) sum += DigitValue(b[--j]);
    out += static_cast<char>('0' + sum % 10);
    carry = sum / 10;
  }
  std::reverse(out.begin(), out.end());
  return out;
}

// a - b for CmpMag(a, b) >= 0; a borrow left at the top (only possible
// with characters that are not digits) is dropped.
std::string SubMag(std::string_view a, std::string_view b) {
  std::string out(a.size(), '0');
  int borrow = 0;
  size_t j = b.size();
  for (size_t i = a.size(); i > 0; --i) {
    int d = DigitValue(a[i - 1]) - borrow - (j > 0 ? DigitValue(b[--j]) : 0);
    borrow = 0;
    while (d < 0) {
      d += 10;
      ++borrow;
    }
    borrow -= d / 10;  // digit values above 9 lend back
    out[i - 1] = static_cast<char>('0' + d % 10);
  }
  return out;
}

// Signed sum of two sign-and-magnitude values.
std::string AddSigned(bool neg_a, std::string_view a, bool neg_b, std::string_view b) {
  a = SkipZeros(a);
  b = SkipZeros(b);
  if (neg_a == neg_b) return Signed(neg_a, AddMag(a, b));
  int order = CmpMag(a, b);
  if (order == 0) return "0";
  if (order > 0) return Signed(neg_a, SubMag(a, b));
  return Signed(neg_b, SubMag(b, a));
}

// The magnitude as proper digits (values above 9 carried over).
std::string Canonical(std::string_view mag) { return StripZeros(AddMag(mag, "0")); }

// Long division of a digit string by a small divisor.
std::string DivSmall(const std::string& digits, unsigned divisor, unsigned& remainder) {
  std::string out;
  out.reserve(digits.size());
  unsigned long long r = 0;
  for (char c : digits) {
    r = r * 10 + static_cast<unsigned>(c - '0');
    out += static_cast<char>('0' + r / divisor);
    r %= divisor;
  }
  remainder = static_cast<unsigned>(r);
  return StripZeros(out);
}

}  // namespace

std::string StrAdd(std::string_view a, std::string_view b) {
  if (IsZero(a)) return std::string(b);
  if (IsZero(b)) return std::string(a);
  return AddSigned(SumNeg(a), SumMag(a), SumNeg(b), SumMag(b));
}

std::string StrSub(std::string_view a, std::string_view b) {
  if (IsZero(a)) {
    if (b.empty()) return "";
    if (IsNeg(b)) return std::string(b.substr(1));
    if (IsZero(b)) return std::string(b);
    return "-" + std::string(b);
  }
  if (IsZero(b)) return std::string(a);
  return AddSigned(SumNeg(a), SumMag(a), !SumNeg(b), SumMag(b));
}

std::string StrMul(std::string_view a, std::string_view b) {
  if (IsZero(a) || IsZero(b)) return "0";
  bool negative = IsNeg(a) != IsNeg(b);
  std::string_view x = Mag(a), y = Mag(b);
  if (x == "1") return Signed(negative, std::string(y));
  if (y == "1") return Signed(negative, std::string(x));
  std::vector<unsigned> acc(x.size() + y.size() + 1, 0);  // least significant first
  for (size_t k = 0; k < y.size(); ++k) {
    unsigned dy = static_cast<unsigned>(DigitValue(y[y.size() - 1 - k]));
    unsigned carry = 0;
    size_t place = k;
    for (size_t i = 0; i < x.size(); ++i, ++place) {
      unsigned v = acc[place] + dy * static_cast<unsigned>(DigitValue(x[x.size() - 1 - i])) + carry;
      acc[place] = v % 10;
      carry = v / 10;
    }
    while (carry > 0) {
      unsigned v = acc[place] + carry;
      acc[place++] = v % 10;
      carry = v / 10;
    }
  }
  std::string out;
  out.reserve(acc.size());
  for (size_t i = acc.size(); i > 0; --i) out += static_cast<char>('0' + acc[i - 1]);
  return Signed(negative, out);
}

std::string StrDiv(std::string_view a, std::string_view b, std::string& rem) {
  if (IsZero(b)) {
    rem = "";
    return "";
  }
  rem = "0";
  if (IsZero(a)) return "0";
  bool neg_a = IsNeg(a);
  bool negative = neg_a != IsNeg(b);
  std::string dividend = Canonical(Mag(a));
  std::string divisor = Canonical(Mag(b));
  if (divisor == "0") {
    rem = "";
    return "";
  }
  if (dividend.size() < divisor.size()) {
    rem = Signed(neg_a, dividend);
    return "0";
  }
  // Subtract the divisor shifted left by each place, highest first.
  std::string quotient;
  quotient.reserve(dividend.size());
  std::string remainder;
  for (char c : dividend) {
    remainder = StripZeros(remainder + c);
    int digit = 0;
    while (CmpMag(remainder, divisor) >= 0) {
      remainder = StripZeros(SubMag(remainder, divisor));
      ++digit;
    }
    quotient += static_cast<char>('0' + digit);
  }
  rem = Signed(neg_a, remainder);
  return Signed(negative, quotient);
}

int StrCmp(std::string_view a, std::string_view b) {
  if (a.empty()) a = "0";
  if (b.empty()) b = "0";
  bool neg_a = IsNeg(a), neg_b = IsNeg(b);
  if (!neg_a && neg_b) return 1;
  if (neg_a && !neg_b) return -1;
  int order = CmpMag(Mag(a), Mag(b));
  return neg_a ? -order : order;
}

std::string StrAbs(std::string_view a) {
  if (a.size() > 1 && a[0] == '-') return std::string(a.substr(1));
  return std::string(a);
}

std::string StrRnd(std::string_view a, int n) {
  if (n < 1 || a.empty()) return std::string(a);
  const bool negative = IsNeg(a);
  const size_t digits = Mag(a).size();
  if (static_cast<size_t>(n) > digits) return "0";  // below half of 10^n
  std::string s(a);
  const size_t p = s.size() - static_cast<size_t>(n);  // 0-based rounding position
  const bool up = s[p] > '4';
  for (size_t i = p; i < s.size(); ++i) s[i] = '0';
  if (up) {
    size_t i = p;
    bool carry = true;
    while (carry && i > 0) {
      --i;
      if (s[i] == '9') {
        s[i] = '0';
      } else if (s[i] == '-') {
        s[i] = '1';
        carry = false;
      } else {
        ++s[i];
        carry = false;
      }
    }
    if (carry) s.insert(s.begin(), '1');
  }
  if (negative) {
    std::string_view mag = s[0] == '-' ? std::string_view(s).substr(1) : std::string_view(s);
    return Signed(true, std::string(mag));
  }
  return StripZeros(s);
}

std::string StrHex(std::string_view a) {
  if (a.empty()) return "";
  if (IsZero(a)) return std::string(a);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string value = Canonical(Mag(a));
  std::string out;
  while (value != "0") {
    unsigned r = 0;
    value = DivSmall(value, 65536, r);
    for (int k = 0; k < 4; ++k) {
      out += kHex[r & 15];
      r >>= 4;
    }
  }
  std::reverse(out.begin(), out.end());
  out = StripZeros(out);
  return IsNeg(a) && out != "0" ? "-" + out : out;
}

std::string StrDec(std::string_view a) {
  if (a.empty()) return "";
  if (IsZero(a)) return "0";
  std::string hex(Mag(a));
  for (char& c : hex)
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  std::string result = "0";
  std::string power = "1";
  for (size_t end = hex.size(); end > 0;) {
    size_t begin = end >= 4 ? end - 4 : 0;
    int group = HexToInt(std::string_view(hex).substr(begin, end - begin));
    if (group != 0) result = AddMag(result, StrMul(power, std::to_string(group)));
    power = StrMul(power, "65536");
    end = begin;
  }
  return Signed(IsNeg(a), result);
}

}  // namespace textutil
