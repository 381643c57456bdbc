#include "core/Json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace parlo {

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void JsonReader::fail(const char* what) const {
    throw JsonError(std::string("JSON: ") + what + " at offset " + std::to_string(pos_));
}

void JsonReader::expect(char c) {
    if (!consume(c)) {
        char message[] = "expected 'x'";
        message[10] = c;
        fail(pos_ < text_.size() ? message : "unexpected end of data");
    }
}

void JsonReader::finish() {
    skipSpace();
    if (pos_ != text_.size())
        fail("unexpected data after the value");
}

void appendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

namespace {

// Plain characters run until a quote, a backslash or a control character. Transcripts make most of
// a large library, so the scan looks at sixteen bytes at a time (SSE2 is part of every x86-64), or
// eight elsewhere.
inline std::size_t plainRun(std::string_view text, std::size_t pos) {
    const char* data = text.data();
    const std::size_t size = text.size();
    std::size_t i = pos;
#ifdef __SSE2__
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i lastControl = _mm_set1_epi8(0x1F);
    while (i + 16 <= size) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        // A byte is a control character when the smaller of it and 0x1F is the byte itself.
        const __m128i special =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)),
                         _mm_cmpeq_epi8(_mm_min_epu8(bytes, lastControl), bytes));
        if (const int mask = _mm_movemask_epi8(special))
            return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        i += 16;
    }
#else
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highs = 0x8080808080808080ULL;
    while (i + 8 <= size) {
        std::uint64_t word;
        std::memcpy(&word, data + i, 8);
        const std::uint64_t quote = word ^ (ones * '"');
        const std::uint64_t backslash = word ^ (ones * '\\');
        // A byte below 0x20, or equal to one of the two (a zero byte after the xor), sets its high bit.
        const std::uint64_t special =
            ((word - ones * 0x20) & ~word) | ((quote - ones) & ~quote) | ((backslash - ones) & ~backslash);
        if (special & highs)
            break;
        i += 8;
    }
#endif
    while (i < size) {
        unsigned char c = static_cast<unsigned char>(data[i]);
        if (c == '"' || c == '\\' || c < 0x20)
            break;
        ++i;
    }
    return i;
}

} // namespace

void JsonReader::appendEscape(std::string& out) {
    // pos_ is on the character after the backslash.
    if (pos_ >= text_.size())
        fail("unexpected end of data");
    char c = text_[pos_++];
    switch (c) {
    case '"':
        out += '"';
        return;
    case '\\':
        out += '\\';
        return;
    case '/':
        out += '/';
        return;
    case 'b':
        out += '\b';
        return;
    case 'f':
        out += '\f';
        return;
    case 'n':
        out += '\n';
        return;
    case 'r':
        out += '\r';
        return;
    case 't':
        out += '\t';
        return;
    case 'u':
        break;
    default:
        fail("invalid escape");
    }
    auto readHex4 = [this]() -> std::uint32_t {
        if (pos_ + 4 > text_.size())
            fail("truncated \\u escape");
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            int digit = hexDigitValue(text_[pos_++]);
            if (digit < 0)
                fail("invalid \\u escape");
            value = value * 16 + static_cast<std::uint32_t>(digit);
        }
        return value;
    };
    std::uint32_t code = readHex4();
    if (code >= 0xD800 && code < 0xDC00) {
        // A high surrogate must be followed by its low half.
        if (pos_ + 2 <= text_.size() && text_[pos_] == '\\' && text_[pos_ + 1] == 'u') {
            pos_ += 2;
            std::uint32_t low = readHex4();
            if (low < 0xDC00 || low > 0xDFFF)
                fail("invalid surrogate pair");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        } else {
            code = 0xFFFD; // a lone half stands for no character: replaced, as invalid UTF-8 is
        }
    } else if (code >= 0xDC00 && code < 0xE000) {
        code = 0xFFFD;
    }
    appendUtf8(out, code);
}

std::string JsonReader::readString() {
    expect('"');
    std::string out;
    for (;;) {
        std::size_t end = plainRun(text_, pos_);
        out.append(text_.data() + pos_, end - pos_);
        pos_ = end;
        if (pos_ >= text_.size())
            fail("unterminated string");
        char c = text_[pos_++];
        if (c == '"') {
            // Whatever damaged the file, what is written back from it must be valid.
            if (isValidUtf8(out))
                return out;
            ++repairedStrings_;
            return replaceInvalidUtf8(out);
        }
        if (c == '\\') {
            appendEscape(out);
            continue;
        }
        --pos_;
        fail("control character in string");
    }
}

void JsonReader::skipString() {
    expect('"');
    std::string scratch;
    bool valid = true;
    for (;;) {
        const std::size_t start = pos_;
        pos_ = plainRun(text_, pos_);
        // Escapes are plain ASCII, so checking the runs between them checks the whole string.
        valid = valid && isValidUtf8(text_.substr(start, pos_ - start));
        if (pos_ >= text_.size())
            fail("unterminated string");
        char c = text_[pos_++];
        if (c == '"') {
            repairedStrings_ += valid ? 0 : 1;
            return;
        }
        if (c != '\\') {
            --pos_;
            fail("control character in string");
        }
        scratch.clear();
        appendEscape(scratch);
    }
}

std::string_view JsonReader::readKey(std::string& buffer) {
    if (pos_ >= text_.size() || text_[pos_] != '"')
        fail("expected a key");
    std::size_t start = pos_ + 1;
    std::size_t end = plainRun(text_, start);
    if (end < text_.size() && text_[end] == '"') {
        pos_ = end + 1;
        return text_.substr(start, end - start);
    }
    buffer = readString();
    return buffer;
}

bool JsonReader::readBool() {
    if (text_.substr(pos_, 4) == "true") {
        pos_ += 4;
        return true;
    }
    if (text_.substr(pos_, 5) == "false") {
        pos_ += 5;
        return false;
    }
    fail("expected a boolean");
}

bool JsonReader::readNull() {
    if (text_.substr(pos_, 4) == "null") {
        pos_ += 4;
        return true;
    }
    return false;
}

std::string_view JsonReader::numberToken() {
    const std::size_t start = pos_;
    auto digit = [this] { return pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9'; };
    consume('-');
    if (consume('0')) {
        // no leading zeros
    } else if (digit()) {
        while (digit())
            ++pos_;
    } else {
        fail("expected a number");
    }
    if (consume('.')) {
        if (!digit())
            fail("expected a digit after the decimal point");
        while (digit())
            ++pos_;
    }
    if (consume('e') || consume('E')) {
        if (!consume('+'))
            consume('-');
        if (!digit())
            fail("expected an exponent");
        while (digit())
            ++pos_;
    }
    return text_.substr(start, pos_ - start);
}

double JsonReader::readDouble() {
    std::string_view token = numberToken();
    double value = 0;
    auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (ec == std::errc::result_out_of_range) {
        pos_ -= token.size();
        fail("number out of range");
    }
    if (ec != std::errc() || end != token.data() + token.size()) {
        pos_ -= token.size();
        fail("invalid number");
    }
    return value;
}

std::int64_t JsonReader::readInteger() {
    std::string_view token = numberToken();
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (ec == std::errc() && end == token.data() + token.size())
        return value;
    // 3.0 or 3e2 name whole numbers too; 3.5 does not.
    double real = 0;
    auto [realEnd, realEc] = std::from_chars(token.data(), token.data() + token.size(), real);
    pos_ -= token.size();
    if (realEc != std::errc() || realEnd != token.data() + token.size())
        fail("invalid number");
    if (std::trunc(real) != real)
        fail("expected an integer, found a fraction");
    if (!(real >= -9.2233720368547758e18 && real < 9.2233720368547758e18))
        fail("integer out of range");
    pos_ += token.size();
    return static_cast<std::int64_t>(real);
}

void JsonReader::skipValue() {
    skipSpace();
    if (pos_ >= text_.size())
        fail("unexpected end of data");
    switch (text_[pos_]) {
    case '{':
        readObject([this](std::string_view) { skipValue(); });
        return;
    case '[':
        readArray([this] { skipValue(); });
        return;
    case '"':
        skipString();
        return;
    case 't':
    case 'f':
        readBool();
        return;
    case 'n':
        if (!readNull())
            fail("invalid literal");
        return;
    default:
        readDouble();
        return;
    }
}

namespace {

// The length of the well-formed UTF-8 sequence at `i` (no overlong forms, surrogates or values
// beyond U+10FFFF), or 0 when the bytes there are not one.
std::size_t utf8SequenceAt(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80)
        return 1;
    std::size_t length = 0;
    std::uint32_t code = 0;
    std::uint32_t smallest = 0;
    if ((c & 0xE0) == 0xC0) {
        length = 2, code = c & 0x1F, smallest = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        length = 3, code = c & 0x0F, smallest = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        length = 4, code = c & 0x07, smallest = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - i < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (next & 0x3F);
    }
    if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))
        return 0;
    return length;
}

} // namespace

#ifdef __SSE2__
// Whether the sixteen bytes at `bytes` are whole sequences of ASCII and two-byte characters (all of
// Russian text but "№" and typographic dashes); `length` is how many of them to pass: 16, or 15 when
// the last one starts a two-byte sequence that the next block finishes. False leaves the block to
// the exact check.
inline bool asciiOrTwoByteBlock(const unsigned char* bytes, std::size_t& length) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    const auto ascii = static_cast<unsigned>(~_mm_movemask_epi8(block)) & 0xFFFFu;
    const auto continuation = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_cmpeq_epi8(_mm_and_si128(block, _mm_set1_epi8(char(0xC0))), _mm_set1_epi8(char(0x80)))));
    // Leads of two-byte sequences, 0xC2..0xDF (0xC0 and 0xC1 would be overlong): compared as signed.
    const auto lead = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(
        _mm_cmpgt_epi8(block, _mm_set1_epi8(char(0xC1))), _mm_cmplt_epi8(block, _mm_set1_epi8(char(0xE0))))));
    if ((ascii | continuation | lead) != 0xFFFFu || continuation != ((lead << 1) & 0xFFFFu))
        return false;
    length = (lead & 0x8000u) != 0 ? 15 : 16;
    return true;
}
#endif

bool isValidUtf8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
#ifdef __SSE2__
        std::size_t length = 0;
        if (i + 16 <= size && asciiOrTwoByteBlock(bytes + i, length)) {
            i += length;
            continue;
        }
#endif
        // Short strings and the ends of long ones: ASCII and two-byte sequences without a call.
        if (bytes[i] < 0x80) {
            ++i;
            continue;
        }
        if (bytes[i] >= 0xC2 && bytes[i] <= 0xDF && i + 1 < size && (bytes[i + 1] & 0xC0) == 0x80) {
            i += 2;
            continue;
        }
        const std::size_t sequence = utf8SequenceAt(text, i);
        if (sequence == 0)
            return false;
        i += sequence;
    }
    return true;
}

std::string replaceInvalidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8SequenceAt(text, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD"; // U+FFFD, one per byte that starts no sequence
            ++i;
        } else {
            out.append(text.data() + i, length);
            i += length;
        }
    }
    return out;
}

void JsonWriter::key(std::string_view name) {
    if (!first_)
        out_ += ',';
    first_ = false;
    out_ += '"';
    out_ += name;
    out_ += "\":";
}

void JsonWriter::string(std::string_view value) {
    out_ += '"';
    std::size_t start = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(value[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out_.append(value.data() + start, i - start);
        start = i + 1;
        switch (c) {
        case '"':
            out_ += "\\\"";
            break;
        case '\\':
            out_ += "\\\\";
            break;
        case '\n':
            out_ += "\\n";
            break;
        case '\r':
            out_ += "\\r";
            break;
        case '\t':
            out_ += "\\t";
            break;
        default: {
            static const char digits[] = "0123456789abcdef";
            char escape[] = "\\u00xx";
            escape[4] = digits[c >> 4];
            escape[5] = digits[c & 0xF];
            out_ += escape;
        }
        }
    }
    out_.append(value.data() + start, value.size() - start);
    out_ += '"';
}

void JsonWriter::number(double value) {
    // JSON has no infinities or NaN; callers leave such values out, this is the last guard.
    if (!std::isfinite(value))
        value = 0;
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    out_.append(buffer, ec == std::errc() ? end : buffer);
}

void JsonWriter::integer(std::int64_t value) {
    char buffer[24];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    out_.append(buffer, ec == std::errc() ? end : buffer);
}

} // namespace parlo
