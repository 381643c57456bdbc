#include "core/BoundedText.h"

namespace parlo {

std::string boundedText(std::string text, std::size_t limit) {
    if (text.size() <= limit || limit == 0)
        return text; // no more bytes than the limit: no more characters either
    // Where the character after the first `limit - 1` starts, and whether there are more than `limit`.
    std::size_t characters = 0;
    std::size_t cut = text.size();
    for (std::size_t i = 0; i < text.size(); ++i) {
        // Every byte but a continuation byte starts a character.
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            continue;
        if (characters == limit - 1)
            cut = i;
        if (characters++ == limit) {
            text.resize(cut);
            text += "…";
            return text;
        }
    }
    return text;
}

} // namespace parlo
