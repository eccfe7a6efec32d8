// Runtime strings (NUL-terminated UTF-16, a null string reads as empty), the per-thread
// scratch area for temporary results, and the number conversions. Every thread has its own
// scratch area, so all of this may be used from any thread; a RuntimeString is used by one
// thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

// Temporary results of the operations below live in the calling thread's scratch area. They
// stay valid until the enclosing ScratchMark is released; another string operation on the
// same thread may move the area, so keep results only as long as the expression needs them,
// or copy them into a RuntimeString. Marks nest up to 100 deep; a deeper one does nothing.
class ScratchMark {
  public:
    ScratchMark();
    ~ScratchMark();
    ScratchMark(const ScratchMark&) = delete;
    ScratchMark& operator=(const ScratchMark&) = delete;

  private:
    bool saved_;
};

// Reserves room for units UTF-16 units at the scratch write position (growing the area by
// the runtime's rules) and returns it; the write position moves past the reserved units.
// Null when memory is short.
char16_t* ScratchReserve(size_t units);
// Copies text (null reads as empty), or its first length units, into the scratch area,
// terminated. The text may itself lie in the scratch area.
const char16_t* ScratchCopy(const char16_t* text);
const char16_t* ScratchCopy(const char16_t* text, size_t length);
// Capacity and write position of the calling thread's scratch area, in bytes (0 before the
// string library has started).
int64_t ScratchCapacity();
int64_t ScratchPosition();

// A string variable: owns its buffer on the string heap.
class RuntimeString {
  public:
    RuntimeString() = default;
    // Construction and copying cannot report a memory shortage: the string is then empty
    // (constructors) or keeps its old text (assignment). Use Assign where that matters.
    explicit RuntimeString(const char16_t* text) { (void)Assign(text); }
    RuntimeString(const RuntimeString& other) { (void)Assign(other.text_); }
    RuntimeString& operator=(const RuntimeString& other) {
        if (this != &other) (void)Assign(other.text_);
        return *this;
    }
    ~RuntimeString();
    // Copies text (which may lie in this string's own buffer); assigning null frees the
    // buffer and succeeds. Returns false when memory is short (the old text is kept then).
    [[nodiscard]] bool Assign(const char16_t* text);
    // Adds text (null: nothing) at the end; false when memory is short (text kept).
    [[nodiscard]] bool Append(const char16_t* text);
    const char16_t* Text() const { return text_ ? text_ : u""; }
    size_t Length() const;

  private:
    char16_t* text_ = nullptr;
};

// Every operation below reads a null text as empty and may be called from any thread.
// Results that are texts are temporary (in the calling thread's scratch area); when the
// area cannot grow they are the empty text.

// Units before the terminator.
size_t StringLength(const char16_t* text);
// text without trailing space characters (U+0020 only: tabs and line breaks stay).
const char16_t* TrimRight(const char16_t* text);
// text lower-cased by the system's mapping for the user's language, unit by unit
// (surrogates unchanged).
const char16_t* LowerCase(const char16_t* text);
// 1 when the texts are equal unit for unit (case counts), else 0.
int StringEquals(const char16_t* a, const char16_t* b);
// n in decimal, with "-" for negative numbers (INT64_MIN included).
const char16_t* IntegerToString(int64_t n);
// The same digits written to out, which holds IntegerTextUnits units; returns the length
// (the terminator not counted). For code that must leave the scratch area alone: a window
// procedure runs in the middle of other string work on its thread.
constexpr size_t IntegerTextUnits = 21;
size_t IntegerToText(int64_t n, char16_t* out);
// Reads an integer: leading spaces and tabs, an optional sign, then "$" for hexadecimal,
// "%" for binary or neither for decimal, then digits up to the first that does not fit the
// base. The value wraps around modulo 2^64 (no overflow error), so "9223372036854775808"
// reads as INT64_MIN. No digits give 0.
int64_t StringToInteger(const char16_t* text);
// Reads a decimal number as the C library's "%lf" does in the "C" locale, whatever the
// user's settings: leading white space, an optional sign, digits with an optional point and
// exponent, or "inf"/"infinity"/"nan" in any case; reading stops at the first character
// that does not fit. The whole texts "+infinity", "-infinity" and "nan" are the special
// values too. Nothing readable gives 0; a number beyond the double range gives an infinity,
// one too small for it 0.
double StringToDouble(const char16_t* text);
// x truncated toward zero. Infinities (and the all-ones NaN pattern) give 0; other NaNs
// and values outside the 64-bit range give INT64_MIN.
int64_t DoubleToInteger(double x);

// 2^63: the doubles that convert to a 64-bit integer lie in [-2^63, 2^63).
constexpr double TwoToThe63 = 9223372036854775808.0;
// Whether x converts to a 64-bit integer without overflow (false for NaN).
inline bool DoubleFitsInt64(double x) {
    return x >= -TwoToThe63 && x < TwoToThe63;
}
// For a decimal text digits[.digits][e[+-]digits] (no sign) whose value lies outside the
// double range: true when it lies above it, false when below. Reading stops at end or at
// the first character that does not belong to such a number.
bool DecimalAboveDoubleRange(const char* text, const char* end);

// Starts the string library: reserves the per-thread scratch area (runtime start-up).
void StringLibraryInit();
