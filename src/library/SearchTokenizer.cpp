#include "library/SearchTokenizer.h"

#include "core/Json.h"

#include <QChar>

#include <libstemmer.h>

#include <new>

namespace parlo {

namespace {

constexpr char32_t kInvalid = 0xFFFFFFFF;

// Decodes the code point at `position`; `length` is its size in bytes (1 for a byte that does not
// start a valid sequence, which then counts as kInvalid).
char32_t decode(std::string_view text, std::size_t position, std::size_t& length) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[position + i]); };
    const unsigned char b0 = byte(0);
    length = 1;
    if (b0 < 0x80)
        return b0;
    std::size_t need = 0;
    char32_t c = 0;
    if ((b0 & 0xE0) == 0xC0)
        need = 1, c = b0 & 0x1F;
    else if ((b0 & 0xF0) == 0xE0)
        need = 2, c = b0 & 0x0F;
    else if ((b0 & 0xF8) == 0xF0)
        need = 3, c = b0 & 0x07;
    else
        return kInvalid;
    if (position + need >= text.size())
        return kInvalid;
    for (std::size_t i = 1; i <= need; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return kInvalid;
        c = (c << 6) | (byte(i) & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not text.
    static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (c < kMinimum[need] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return kInvalid;
    length = need + 1;
    return c;
}

enum class Kind { separator, letter, mark };

// The class of a code point and, for a letter, its key form. ASCII and Russian letters, nearly all
// of what is said, skip Qt's tables.
Kind classify(char32_t c, char32_t& folded) {
    folded = c;
    if (c < 0x80) {
        if ((c >= U'a' && c <= U'z') || (c >= U'0' && c <= U'9'))
            return Kind::letter;
        if (c >= U'A' && c <= U'Z') {
            folded = c + 0x20;
            return Kind::letter;
        }
        return Kind::separator;
    }
    if (c >= U'а' && c <= U'я')
        return Kind::letter;
    if (c >= U'А' && c <= U'Я') {
        folded = c + 0x20;
        return Kind::letter;
    }
    if (c == U'ё' || c == U'Ё') {
        folded = U'е';
        return Kind::letter;
    }
    if (c == kInvalid)
        return Kind::separator;
    if (QChar::isMark(c))
        return Kind::mark;
    if (QChar::isLetterOrNumber(c)) {
        folded = QChar::toLower(c);
        return Kind::letter;
    }
    return Kind::separator;
}

} // namespace

SearchTokenizer::SearchTokenizer() : stemmer_(sb_stemmer_new("russian", nullptr)) {
    if (!stemmer_)
        throw std::bad_alloc();
}

SearchTokenizer::~SearchTokenizer() {
    sb_stemmer_delete(stemmer_);
}

bool SearchTokenizer::next(std::string_view text, std::size_t& position, Word& word) {
    std::size_t length = 0;
    char32_t folded = 0;
    // Skip to the first letter; a mark before any letter is not a word.
    while (position < text.size()) {
        const char32_t c = decode(text, position, length);
        if (classify(c, folded) == Kind::letter)
            break;
        position += length;
    }
    if (position >= text.size())
        return false;
    key_.clear();
    word.begin = position;
    int characters = 0;
    while (position < text.size()) {
        const char32_t c = decode(text, position, length);
        const Kind kind = classify(c, folded);
        if (kind == Kind::separator)
            break;
        if (kind == Kind::letter && characters < kMaxKeyCharacters) {
            appendUtf8(key_, folded);
            ++characters;
        }
        position += length;
    }
    word.end = position;
    word.key = key_;
    return true;
}

std::string_view SearchTokenizer::stem(std::string_view key) {
    if (auto found = stems_.find(key); found != stems_.end())
        return found->second;
    const sb_symbol* stemmed = sb_stemmer_stem(stemmer_, reinterpret_cast<const sb_symbol*>(key.data()),
                                               static_cast<int>(key.size()));
    if (!stemmed)
        throw std::bad_alloc();
    constexpr std::size_t kMaxCachedStems = 100000;
    if (stems_.size() >= kMaxCachedStems)
        stems_.clear();
    const std::string_view result(reinterpret_cast<const char*>(stemmed),
                                  static_cast<std::size_t>(sb_stemmer_length(stemmer_)));
    return stems_.emplace(std::string(key), std::string(result)).first->second;
}

} // namespace parlo
