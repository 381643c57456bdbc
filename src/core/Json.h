#pragma once

// The program's one JSON reader and its compact writer: the library file, the service's answers,
// probe snapshots. The library file can hold hundreds of megabytes of transcripts and is read at
// every start, so the reader decodes straight into records (or only validates) without building a
// document tree. Everything it reads comes from outside, so nesting is bounded: the reader recurses
// once per level, and 100,000 brackets would overflow the stack.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace parlo {

// The value of a hexadecimal digit (either case), or -1.
int hexDigitValue(char c);

// Appends the UTF-8 form of a Unicode code point.
void appendUtf8(std::string& out, std::uint32_t code);

class JsonError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class JsonReader {
public:
    // Deeper documents fail with JsonError. Our own documents nest 7 levels at most (library, record,
    // result, summary, notes, note, references); a few hundred leave room for any honest extension
    // and keep the recursion a few hundred kilobytes of stack even in sanitizer builds.
    static constexpr int kMaxDepth = 256;

    explicit JsonReader(std::string_view text) : text_(text) {}

    // Reads an object; `onKey(std::string_view key)` must consume the value of each key.
    template <typename OnKey> void readObject(OnKey&& onKey) {
        Level level(*this);
        expect('{');
        skipSpace();
        if (consume('}'))
            return;
        std::string keyBuffer;
        for (;;) {
            skipSpace();
            std::string_view key = readKey(keyBuffer);
            skipSpace();
            expect(':');
            skipSpace();
            onKey(key);
            skipSpace();
            if (consume(','))
                continue;
            expect('}');
            return;
        }
    }

    // Reads an array; `onElement()` must consume one value each time it is called.
    template <typename OnElement> void readArray(OnElement&& onElement) {
        Level level(*this);
        expect('[');
        skipSpace();
        if (consume(']'))
            return;
        for (;;) {
            skipSpace();
            onElement();
            skipSpace();
            if (consume(','))
                continue;
            expect(']');
            return;
        }
    }

    std::string readString();
    void skipString();
    bool readBool();
    double readDouble();
    // A number whose value is a whole number that fits; 3.5 or 1e30 fail.
    std::int64_t readInteger();
    // Consumes a null and returns true, or leaves the input alone and returns false.
    bool readNull();
    void skipValue();

    // Checks that only white space remains.
    void finish();

    bool atEnd() const { return pos_ >= text_.size(); }
    // The next character, or '\0' at the end; for callers that accept more than one kind of value.
    char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
    std::size_t position() const { return pos_; }
    // How many strings so far held bytes that are not UTF-8 (replaced by readString, passed over as
    // they are by skipString).
    std::size_t repairedStrings() const { return repairedStrings_; }
    std::string_view text() const { return text_; }
    void skipSpace() {
        while (pos_ < text_.size()) {
            char c = text_[pos_];
            if (c != ' ' && c != '\n' && c != '\r' && c != '\t')
                return;
            ++pos_;
        }
    }
    [[noreturn]] void fail(const char* what) const;

private:
    // One level of nesting, for as long as the object or array is being read.
    class Level {
    public:
        explicit Level(JsonReader& reader) : reader_(reader) {
            if (++reader_.depth_ > kMaxDepth)
                reader_.fail("nesting too deep");
        }
        ~Level() { --reader_.depth_; }
        Level(const Level&) = delete;
        Level& operator=(const Level&) = delete;

    private:
        JsonReader& reader_;
    };

    std::string_view readKey(std::string& buffer);
    std::string_view numberToken();
    void expect(char c);
    bool consume(char c) {
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    void appendEscape(std::string& out);

    std::string_view text_;
    std::size_t pos_ = 0;
    int depth_ = 0;
    std::size_t repairedStrings_ = 0;
};

// Reads `text` as one JSON object; `onKey` is called as for JsonReader::readObject. False when the
// text holds another kind of value; JsonError when it is not JSON.
template <typename OnKey> bool readJsonObject(std::string_view text, OnKey&& onKey) {
    JsonReader reader(text);
    reader.skipSpace();
    if (reader.peek() != '{') {
        reader.skipValue();
        reader.finish();
        return false;
    }
    reader.readObject([&](std::string_view key) { onKey(reader, key); });
    reader.finish();
    return true;
}

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or values beyond U+10FFFF).
bool isValidUtf8(std::string_view text);
// `text` with every byte that starts no well-formed sequence replaced by U+FFFD.
std::string replaceInvalidUtf8(std::string_view text);

// Appends compact JSON to a string.
class JsonWriter {
public:
    explicit JsonWriter(std::string& out) : out_(out) {}

    void beginObject() { out_ += '{', first_ = true; }
    void endObject() { out_ += '}', first_ = false; }
    void beginArray() { out_ += '[', first_ = true; }
    void endArray() { out_ += ']', first_ = false; }
    // Writes `"name":` after a separator when needed; the value follows.
    void key(std::string_view name);
    // Separator before an array element.
    void element() {
        if (!first_)
            out_ += ',';
        first_ = false;
    }
    void string(std::string_view value);
    void number(double value);
    void integer(std::int64_t value);
    void boolean(bool value) { out_ += value ? "true" : "false"; }
    void null() { out_ += "null"; }
    // Inserts already encoded JSON as a value.
    void raw(std::string_view json) { out_ += json; }

    std::string& out() { return out_; }

private:
    std::string& out_;
    bool first_ = true;
};

} // namespace parlo
