// Small numeric routines: rounding of doubles and currency, integer
// helpers, bit operations, unsigned 32-bit arithmetic that refuses to
// overflow, check digits and radix conversion.
//
// The rounding routines run the floating-point unit in the rounding mode
// they need and restore the caller's mode before they return.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "textutil/currency.h"

namespace textutil {

// ---- rounding -------------------------------------------------------------

// Halves away from zero: x + 0.5 (x - 0.5 when negative), cut toward zero.
double RndToFlt(double x);
// The whole part of x plus the whole part of twice its fraction (2.5 gives
// 3, -2.5 gives -3); saturates at the ends of the int range.
std::int32_t RndToInt(double x);
// x rounded to d decimals (d < 0 rounds to tens, hundreds ...) in the
// caller's rounding mode: halves to even by default (2.5 gives 2).
double RndToDec(double x, int d);
// x rounded to n significant digits; 0, infinities and NaN unchanged.
double RndToSig(double x, int n);
// Whole cents, halves away from zero / cut toward zero.
Currency RndToCents(Currency c);
Currency TruncToCents(Currency c);
// x as a whole number and a fraction of denominator d: "2-3/4" for 2.75
// with 16, "-0-3/4" for -0.75; a fraction that rounds to 0 or 1 gives the
// rounded whole number alone ("3" for 2.99). d below 1 gives the rounded
// whole number.
std::string FloatToFrac(double x, int d);

// The tolerance of CmpFloat (1e-9 at start; process-wide).
void SetFloatTolerance(double t);
// 0 when |b - a| is below the tolerance; otherwise 1 when a < b, else -1.
int CmpFloat(double a, double b);

// ---- integers -------------------------------------------------------------

std::int32_t iMax(std::int32_t a, std::int32_t b);
std::int32_t iMin(std::int32_t a, std::int32_t b);
// a when a equals b; otherwise the smaller of c and the greater of a and b,
// compared unsigned. (Not a median.)
std::int32_t iMid(std::int32_t a, std::int32_t b, std::int32_t c);
// v rounded to a multiple of step s (halves away from zero); v itself for
// s below 1. Results beyond the int range fall back by one step.
std::int32_t iRnd(std::int32_t v, std::int32_t s);
// v cut toward zero to a multiple of s; v itself for s of 0.
std::int32_t iTrunc(std::int32_t v, std::int32_t s);
int iSign(std::int32_t v);
// -1, 0 or 1 from the sign bit: 0 only for +0.0, -1 for -0.0.
int SignDbl(double x);
// base to the power e: 0 and 1 give themselves, e = 0 gives 1, e < 0 gives
// 0, and so does a result beyond 32 bits.
std::int32_t IPower(std::int32_t base, std::int32_t e);
// 2^n for n of 0..30, else 0.
std::int32_t IPower2(std::int32_t n);
// Greatest common divisor; GCD(0, n) is n, GCD(0, 0) is 1.
std::uint32_t GCD(std::uint32_t a, std::uint32_t b);
// The p-th decimal digit of |value| from the right (p = 1 the units);
// 9999 for p outside 1..9.
int GetDigit(std::int32_t value, int p);

// ---- bits -------------------------------------------------------------------

int CntBit(std::int32_t v);
int LoBit(std::int32_t v);  // -1 for 0
int HiBit(std::int32_t v);  // -1 for 0
bool TestBit(std::int32_t v, int index);  // index taken mod 32
void SetBit(std::int32_t& v, int index);
void ClrBit(std::int32_t& v, int index);
void SetByteBit(std::uint8_t& b, int index);  // index taken mod 8
void ClrByteBit(std::uint8_t& b, int index);
std::int32_t RotL(std::int32_t v, int count);
std::int32_t RotR(std::int32_t v, int count);
void IntSwap(std::int32_t& a, std::int32_t& b);
void WordSwap(std::uint16_t& a, std::uint16_t& b);

// ---- unsigned 32-bit arithmetic ---------------------------------------------

// Whether a >= b, compared unsigned.
bool UnSignedCompare(std::int32_t a, std::int32_t b);
// Raise rtl::EIntOverflow on a carry, borrow or product beyond 32 bits.
std::uint32_t AddUSI(std::uint32_t a, std::uint32_t b);
std::uint32_t SubUSI(std::uint32_t a, std::uint32_t b);
std::uint32_t MulUSI(std::uint32_t a, std::uint32_t b);
// Raise rtl::Exception "Division by zero" for b = 0.
std::uint32_t DivUSI(std::uint32_t a, std::uint32_t b);
std::uint32_t ModUSI(std::uint32_t a, std::uint32_t b);
int CmpUSI(std::uint32_t a, std::uint32_t b);
std::string USIToStr(std::uint32_t v);
// The digits of s (other characters skipped); rtl::EIntOverflow beyond 32
// bits; 0 for "".
std::uint32_t StrToUSI(std::string_view s);
// v with its digits grouped in threes by the ThousandSep setting.
std::string IntToFmtStr(std::int32_t v);

// ---- check digits and radix ---------------------------------------------------

// Luhn sum modulo 10 of the digits (others skipped): 0 means valid; -1 when
// there are no digits.
int CreditSum(std::string_view s);
// 1 when the ten digits (an 'X' or 'x' as the tenth counts 10) pass the
// ISBN-10 check, else 0.
int ISBNSum(std::string_view s);
// The number text converted from radix `from` to radix `to` (2..36 each;
// digits 0-9 then A-Z, either case). Characters that are not digits of the
// source radix are dropped; a leading '-' is kept. "" for a radix outside
// 2..36 or when no digit is left.
std::string RadixStr(std::string_view number, int from, int to);

}  // namespace textutil
