// Runtime strings (NUL-terminated UTF-16, a null string reads as empty), the per-thread
// scratch area for temporary results, and the number conversions.
#pragma once

#include <cstddef>
#include <cstdint>

// Temporary results of the operations below live in the calling thread's scratch area. They
// stay valid until the enclosing ScratchMark is released; another string operation on the
// same thread may move the area, so keep results only as long as the expression needs them,
// or copy them into a RuntimeString.
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
// Capacity and write position of the calling thread's scratch area, in bytes.
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
    // Copies text; assigning null frees the buffer. Returns false when memory is short
    // (the old text is kept then).
    [[nodiscard]] bool Assign(const char16_t* text);
    [[nodiscard]] bool Append(const char16_t* text);
    const char16_t* Text() const { return text_ ? text_ : u""; }
    size_t Length() const;

  private:
    char16_t* text_ = nullptr;
};

size_t StringLength(const char16_t* text);
const char16_t* TrimRight(const char16_t* text);
const char16_t* LowerCase(const char16_t* text);
int StringEquals(const char16_t* a, const char16_t* b);
const char16_t* IntegerToString(int64_t n);
int64_t StringToInteger(const char16_t* text);
double StringToDouble(const char16_t* text);
int64_t DoubleToInteger(double x);

// Starts the string library: reserves the per-thread scratch area (runtime start-up).
void StringLibraryInit();
