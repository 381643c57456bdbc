#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

struct sb_stemmer;

namespace parlo {

// Cuts text into the words a search compares. A word is a run of letters and digits; combining
// marks inside it (a stress mark, the dots of a decomposed ё) belong to it. Its key is written in
// lower case with ё as е and without marks, so "Счёт", "счет" and "сче́т" have one key; the key of
// a Cyrillic or Latin word is as long in bytes as the word, which keeps offsets simple for callers.
// Its stem is the Snowball Russian stem of the key ("счетами" -> "счет").
//
// Holds a stemmer, which is not thread-safe: one tokenizer per thread.
class SearchTokenizer {
public:
    struct Word {
        std::size_t begin = 0; // byte offsets into the text
        std::size_t end = 0;
        std::string_view key; // valid until the next word is read
    };

    // Throws std::bad_alloc when the stemmer cannot be made.
    SearchTokenizer();
    ~SearchTokenizer();
    SearchTokenizer(const SearchTokenizer&) = delete;
    SearchTokenizer& operator=(const SearchTokenizer&) = delete;

    // Reads the word at or after `position` and moves `position` past it; false at the end.
    // Bytes that are not UTF-8 separate words.
    bool next(std::string_view text, std::size_t& position, Word& word);

    template <typename Visit> void forEachWord(std::string_view text, Visit&& visit) {
        std::size_t position = 0;
        Word word;
        while (next(text, position, word))
            visit(word);
    }

    // The stem of a key; valid until the next call.
    std::string_view stem(std::string_view key);

    // Longer words keep a key of this many characters: enough for any real word, and a bound on
    // what one token of hostile text can cost.
    static constexpr int kMaxKeyCharacters = 64;

    // Lets hashed containers of keys be searched with a string_view.
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };

private:
    std::string key_;
    sb_stemmer* stemmer_ = nullptr;
    // Stems already computed: a conversation repeats a few thousand words, and the stemmer costs
    // more than a lookup. Bounded, emptied when full.
    std::unordered_map<std::string, std::string, KeyHash, std::equal_to<>> stems_;
};

} // namespace parlo
