#include "textutil/calculator.h"

#include <cmath>
#include <numbers>
#include <string>

#include "platform/runtime/exceptions.h"
#include "platform/runtime/sysutils.h"
#include "textutil/compare.h"
#include "textutil/edit.h"
#include "textutil/fields.h"

namespace textutil {
namespace {

constexpr std::string_view kOperators = "+-/*^()";
constexpr int kMaxDepth = 1000;

[[noreturn]] void Fail(const std::string& message) { throw rtl::Exception(message); }

[[noreturn]] void DivisionByZero() { Fail("Floating point division by zero"); }
[[noreturn]] void InvalidOperation() { Fail("Invalid floating point operation"); }

double Checked(double v) {
  if (std::isnan(v)) InvalidOperation();
  if (std::isinf(v)) Fail("Floating point overflow");
  return v;
}

double Ln(double x) {
  if (x == 0) DivisionByZero();
  if (x < 0) InvalidOperation();
  return std::log(x);
}

class Evaluator {
public:
  explicit Evaluator(std::string text) : s_(std::move(text)) {}

  double Run() {
    double v = Expression();
    if (ch_ != '\0') Fail("Unexpected end of string");
    return v;
  }

private:
  // Reads the text up to the next operator as the token; ch_ becomes that
  // operator, or the character 0 when none is left.
  void Next() {
    token_ = Parse(s_, kOperators, pos_);
    ch_ = pos_ == 0 ? '\0' : s_[static_cast<size_t>(pos_ - 2)];
  }

  double Expression() {
    double v = Term();
    while (ch_ == '+' || ch_ == '-') {
      char op = ch_;
      double r = Term();
      v = Checked(op == '+' ? v + r : v - r);
    }
    return v;
  }

  double Term() {
    double v = Power();
    while (ch_ == '*' || ch_ == '/') {
      char op = ch_;
      double r = Power();
      if (op == '*') {
        v = Checked(v * r);
      } else {
        if (r == 0) {
          if (v == 0) InvalidOperation();
          DivisionByZero();
        }
        v = Checked(v / r);
      }
    }
    return v;
  }

  double Power() {
    double v = Factor();
    if (ch_ == '^') {
      double y = Factor();
      v = Checked(std::exp(y * Ln(v)));
    }
    return v;
  }

  double Factor() {
    struct Depth {
      int& depth;
      explicit Depth(int& d) : depth(d) {
        if (++depth > kMaxDepth) Fail("Expression nested too deeply");
      }
      ~Depth() { --depth; }
    } guard(depth_);

    Next();
    if (token_.empty()) {
      if (ch_ == '(') return Bracket();
      if (ch_ == '+') return Factor();
      if (ch_ == '-') return -Factor();
      SyntaxError();
    }
    if (IsFloat(token_)) return Checked(rtl::StrToFloat(token_));
    std::string name = rtl::UpperCase(token_);
    if (ch_ != '(') {
      if (name == "PI") return std::numbers::pi;
      SyntaxError();
    }
    if (name == "LN") return Ln(Bracket());
    if (name == "ABS") return std::fabs(Bracket());
    if (name == "EXP") return Checked(std::exp(Bracket()));
    SyntaxError();
  }

  // The value of a bracket whose "(" was just read; the token after its
  // ")" is read and dropped.
  double Bracket() {
    double v = Expression();
    if (ch_ != ')') Fail("Mismatched brackets");
    Next();
    return v;
  }

  [[noreturn]] void SyntaxError() { Fail("Syntax error at position " + std::to_string(pos_)); }

  std::string s_;
  int pos_ = 1;
  std::string token_;
  char ch_ = '\0';
  int depth_ = 0;
};

}  // namespace

double CalcStr(std::string_view expression) {
  std::string text(expression);
  text.resize(static_cast<size_t>(Compact(text)));
  if (text.empty()) Fail("Unexpected end of string");
  return Evaluator(std::move(text)).Run();
}

}  // namespace textutil
