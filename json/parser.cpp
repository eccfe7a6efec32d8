// The parser: one pass of recursive descent over UTF-16 text, one unit of push-back, and the
// first error recorded with its line and column in the thread's error record.
#include "json_internal.h"
#include "runtime/heap.h"
#include "runtime/strings.h"

#include <charconv>
#include <cstring>
#include <limits>

namespace {

// The white space of JSON between tokens; the line breaks also count lines for messages.
constexpr char16_t kTab = 9, kLineFeed = 10, kCarriageReturn = 13, kSpace = 32;

constexpr int32_t kTokenStep = 1024;

class Parser {
  public:
    explicit Parser(const char16_t* text) : at_(text) {}
    ~Parser() {
        if (token_ != firstToken_) RuntimeFree(token_);
    }

    bool Failed() const { return failed_; }

    void Raise(const char* message) {
        if (failed_) return;
        failed_ = true;
        JsonErrorRecord* record = json_internal::ErrorRecord();
        record->line = line_;
        record->column = column_ ? column_ : 1;
        std::strncpy(record->message, message, sizeof record->message - 1);
        record->message[sizeof record->message - 1] = 0;
    }

    char16_t Read(bool endAllowed = false) {
        if (failed_) return 0;
        if (pushBack_) {
            char16_t c = pushBack_;
            pushBack_ = 0;
            return c;
        }
        char16_t c = *at_;
        if (c) ++at_;
        if (c == kCarriageReturn) {
            ++line_;
            column_ = 0;
            afterCR_ = true;
        } else if (c == kLineFeed) {
            if (!afterCR_) {
                ++line_;
                column_ = 0;
            }
            afterCR_ = false;
        } else if (c) {
            ++column_;
            afterCR_ = false;
        } else if (!endAllowed) {
            Raise("Unexpected end of input");
        }
        return c;
    }

    char16_t ReadNonBlank(bool endAllowed = false) {
        for (;;) {
            char16_t c = Read(endAllowed);
            if (c != kTab && c != kLineFeed && c != kCarriageReturn && c != kSpace)
                return failed_ ? 0 : c;
        }
    }

    void ParseValue(char16_t c, JsonValue* value, int32_t depth) {
        if (failed_) return;
        switch (c) {
        case '"':
            ReadStringValue(value);
            break;
        case '-':
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9':
            ReadNumber(c, value);
            break;
        case '[':
        case '{':
            // Each level costs stack; a hostile text must not be able to use it all up.
            if (depth >= JsonMaxDepth) {
                Raise("Nesting too deep");
                return;
            }
            if (c == '[')
                ReadArray(value, depth + 1);
            else
                ReadObject(value, depth + 1);
            break;
        case 't':
            if (Literal(u"rue")) JsonSetBoolean(value, 1);
            break;
        case 'f':
            if (Literal(u"alse")) JsonSetBoolean(value, 0);
            break;
        case 'n':
            if (Literal(u"ull")) JsonSetNull(value);
            break;
        default:
            Raise("Unexpected character");
        }
    }

  private:
    bool Literal(const char16_t* rest) {
        for (; *rest; ++rest) {
            char16_t c = Read();
            if (failed_) return false;
            if (c != *rest) {
                Raise("Unexpected character");
                return false;
            }
        }
        return true;
    }

    bool Append(const char16_t* units, size_t count) {
        if (length_ + count > size_t(capacity_)) {
            // Grow in steps of the initial size, but at least by half, so that a long
            // string or number costs linear time.
            size_t need = length_ + count;
            size_t grown = size_t(capacity_) + size_t(capacity_) / 2;
            size_t capacity = need > grown ? need : grown;
            capacity = (capacity + kTokenStep - 1) / kTokenStep * kTokenStep;
            if (capacity > size_t(INT32_MAX)) {
                Raise("Out of memory");
                return false;
            }
            // The first buffer lies in the parser itself; longer tokens move to the heap.
            bool first = token_ == firstToken_;
            auto* grownBuffer = static_cast<char16_t*>(
                first ? RuntimeAllocate(capacity * sizeof(char16_t))
                      : RuntimeReallocate(token_, capacity * sizeof(char16_t)));
            if (!grownBuffer) {
                Raise("Out of memory");
                return false;
            }
            if (first) std::memcpy(grownBuffer, token_, length_ * sizeof(char16_t));
            token_ = grownBuffer;
            capacity_ = int32_t(capacity);
        }
        std::memcpy(token_ + length_, units, count * sizeof(char16_t));
        length_ += count;
        return true;
    }

    bool AppendUnit(char16_t c) { return Append(&c, 1); }

    static int HexDigit(char16_t c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    static bool Plain(char16_t u) { return u != '"' && u != '\\' && u != 0 && u != 13 && u != 10; }

    // After the opening quote. Runs of plain units are taken in one go, counted as
    // unit-by-unit reads would count them. A string without escapes or line breaks is handed
    // over where it lies in the source (text, length); otherwise it is built in the token.
    // Nothing is in the push-back here: the opening quote was the last unit read.
    bool ReadString(const char16_t** text, size_t* length) {
        length_ = 0;
        const char16_t* run = at_;
        while (Plain(*at_)) ++at_;
        if (at_ != run) {
            column_ += int32_t(at_ - run);
            afterCR_ = false;
        }
        if (*at_ == '"') {
            Read();
            *text = run;
            *length = size_t(at_ - 1 - run);
            return true;
        }
        for (;;) {
            if (at_ != run && !Append(run, size_t(at_ - run))) return false;
            char16_t u = Read();
            if (failed_) return false;
            if (u == '"') break;
            if (u == '\\') {
                char16_t e = Read();
                if (failed_) return false;
                switch (e) {
                case '"':
                case '/':
                case '\\':
                    u = e;
                    break;
                case 'b':
                    u = 8;
                    break;
                case 'f':
                    u = 12;
                    break;
                case 'n':
                    u = 10;
                    break;
                case 'r':
                    u = 13;
                    break;
                case 't':
                    u = 9;
                    break;
                case 'u': {
                    unsigned v = 0;
                    for (int i = 0; i < 4; ++i) {
                        char16_t h = Read();
                        if (failed_) return false;
                        int d = HexDigit(h);
                        if (d < 0) {
                            Raise("Invalid escape sequence");
                            return false;
                        }
                        v = v * 16 + unsigned(d);
                    }
                    u = char16_t(v);
                    break;
                }
                default:
                    Raise("Invalid escape sequence");
                    return false;
                }
            }
            if (!AppendUnit(u)) return false;
            run = at_;
            while (Plain(*at_)) ++at_;
            if (at_ != run) {
                column_ += int32_t(at_ - run);
                afterCR_ = false;
            }
        }
        // Texts end at their first 0 unit: an escaped \u0000 cuts the string there.
        *text = token_;
        *length = 0;
        while (*length < length_ && token_[*length]) ++*length;
        return true;
    }

    void ReadStringValue(JsonValue* value) {
        const char16_t* text;
        size_t length;
        if (ReadString(&text, &length) && !JsonSetStringLength(value, text, length))
            Raise("Out of memory");
    }

    // Digits where at least one is required; returns the unit after them.
    char16_t Digits(char16_t c) {
        if (c < '0' || c > '9') {
            Raise("Invalid numeric value");
            return 0;
        }
        do {
            if (!AppendUnit(c)) return 0;
            c = Read(true);
        } while (c >= '0' && c <= '9');
        return c;
    }

    void ReadNumber(char16_t c, JsonValue* value) {
        length_ = 0;
        bool isDouble = false;
        if (c == '-') {
            AppendUnit(c);
            c = Read();
            if (failed_) return;
        }
        c = Digits(c);
        if (failed_) return;
        if (c == '.') {
            isDouble = true;
            AppendUnit(c);
            c = Digits(Read());
            if (failed_) return;
        }
        if (c == 'e' || c == 'E') {
            isDouble = true;
            AppendUnit(c);
            c = Read();
            if (c == '+' || c == '-') {
                AppendUnit(c);
                c = Read();
            }
            if (failed_) return;
            c = Digits(c);
        }
        if (failed_) return;
        pushBack_ = c;
        if (isDouble) {
            JsonSetDouble(value, ToDouble());
            return;
        }
        // Integers wrap in 64 bits: 9223372036854775808 reads as its two's-complement value.
        uint64_t n = 0;
        size_t i = token_[0] == '-' ? 1 : 0;
        for (; i < length_; ++i) n = n * 10 + uint64_t(token_[i] - '0');
        JsonSetInteger(value, static_cast<int64_t>(token_[0] == '-' ? 0 - n : n));
    }

    // The token as a double, exactly and whatever the locale. Beyond the double range the
    // result is an infinity (too large) or a zero (too small), with the number's sign.
    double ToDouble() {
        char small[128];
        char* narrow = small;
        if (length_ > sizeof small) {
            narrow = static_cast<char*>(RuntimeAllocate(length_));
            if (!narrow) {
                Raise("Out of memory");
                return 0.0;
            }
        }
        for (size_t i = 0; i < length_; ++i) narrow[i] = char(token_[i]);
        double x = 0.0;
        auto result = std::from_chars(narrow, narrow + length_, x, std::chars_format::general);
        if (result.ec == std::errc::result_out_of_range) {
            bool negative = narrow[0] == '-';
            x = DecimalAboveDoubleRange(narrow + negative, narrow + length_)
                    ? std::numeric_limits<double>::infinity()
                    : 0.0;
            if (negative) x = -x;
        }
        if (narrow != small) RuntimeFree(narrow);
        return x;
    }

    // The value starting with c as a new element of array (name null) or member of object:
    // a string's text or a container's record shares the new node's block.
    void ParseNew(char16_t c, JsonValue* container, const char16_t* name, size_t nameLength,
                  int32_t depth) {
        using json_internal::NewValue;
        auto add = [&](NewValue kind, const char16_t* text, size_t length) {
            json_internal::ValueStart start{kind, text, length};
            JsonValue* v =
                name ? json_internal::SetMemberValue(container, name, nameLength, start, chunks_)
                     : json_internal::AppendValue(container, start, chunks_);
            if (!v) Raise("Out of memory");
            return v;
        };
        if (c == '"') {
            const char16_t* text;
            size_t length;
            if (ReadString(&text, &length)) add(NewValue::String, text, length);
        } else if (c == '[' || c == '{') {
            if (depth >= JsonMaxDepth) {
                Raise("Nesting too deep");
                return;
            }
            JsonValue* v = add(c == '[' ? NewValue::Array : NewValue::Object, nullptr, 0);
            if (v && c == '[') ReadArray(v, depth + 1, true);
            if (v && c == '{') ReadObject(v, depth + 1, true);
        } else if (JsonValue* v = add(NewValue::Null, nullptr, 0)) {
            ParseValue(c, v, depth);
        }
    }

    // After "["; prepared: the value is already an empty array.
    void ReadArray(JsonValue* value, int32_t depth, bool prepared = false) {
        if (!prepared && !JsonSetArray(value)) {
            Raise("Out of memory");
            return;
        }
        if (!chunks_) chunks_ = &value->elements->chunks; // the root: the whole tree goes here
        char16_t c = ReadNonBlank();
        if (c == ']') return;
        while (!failed_) {
            ParseNew(c, value, nullptr, 0, depth);
            c = ReadNonBlank();
            if (c == ']') return;
            if (c == ',')
                c = ReadNonBlank();
            else
                Raise("Unexpected character");
        }
    }

    // After "{"; prepared: the value is already an empty object.
    void ReadObject(JsonValue* value, int32_t depth, bool prepared = false) {
        if (!prepared && !JsonSetObject(value)) {
            Raise("Out of memory");
            return;
        }
        if (!chunks_) chunks_ = &value->members->chunks; // the root: the whole tree goes here
        char16_t c = ReadNonBlank();
        if (c == '}') return;
        while (!failed_) {
            if (c != '"') {
                Raise("A member name (string) is expected");
                return;
            }
            const char16_t* name;
            size_t length;
            if (!ReadString(&name, &length)) return;
            if (name != token_) {
                // The name lies in the source, where it stays while the value is read: the
                // member is made once the value's start is known.
                if (ReadNonBlank() != ':') {
                    Raise("Expected a ':' character");
                    return;
                }
                ParseNew(ReadNonBlank(), value, name, length, depth);
            } else {
                JsonValue* member = json_internal::SetMemberValue(
                    value, name, length, json_internal::ValueStart{}, chunks_);
                if (!member) {
                    Raise("Out of memory");
                    return;
                }
                if (ReadNonBlank() != ':') {
                    Raise("Expected a ':' character");
                    return;
                }
                ParseValue(ReadNonBlank(), member, depth);
            }
            c = ReadNonBlank();
            if (c == '}') return;
            if (c == ',')
                c = ReadNonBlank();
            else
                Raise("Unexpected character");
        }
    }

    const char16_t* at_;
    char16_t pushBack_ = 0;
    bool afterCR_ = false;
    bool failed_ = false;
    int32_t line_ = 1;
    int32_t column_ = 0;
    JsonChunk** chunks_ = nullptr; // where the tree's nodes come from
    char16_t firstToken_[kTokenStep];
    char16_t* token_ = firstToken_;
    size_t length_ = 0;
    int32_t capacity_ = kTokenStep;
};

} // namespace

intptr_t JsonParseText(int64_t number, const char16_t* text, int32_t flags) {
    JsonErrorRecord* record = json_internal::ErrorRecord();
    record->message[0] = 0;
    record->line = -1;
    record->column = -1;

    Parser parser(text ? text : u"");
    auto* root = static_cast<JsonValue*>(RuntimeAllocate(sizeof(JsonValue)));
    if (!root) {
        parser.Raise("Out of memory");
        return 0;
    }
    root->flags = uint16_t(flags & JsonNoCase);
    parser.ParseValue(parser.ReadNonBlank(), root, 0);
    if (!parser.Failed() && parser.ReadNonBlank(true) != 0) parser.Raise("Unexpected character");
    intptr_t id = 0;
    if (!parser.Failed()) {
        id = json_internal::StoreDocument(number, root);
        if (!id) parser.Raise("Out of memory");
    }
    if (!id) JsonValueDestroy(root);
    return id;
}
