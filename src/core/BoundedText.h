#pragma once

#include <cstddef>
#include <string>

namespace parlo {

// Texts the service supplies are shown in the window and stored in the library, and a broken or
// hostile service can send megabytes of them. They are cut to these lengths (in characters) where
// they enter: enough for any real title, stage or sentence, small enough for a notice.
namespace TextLimit {
inline constexpr std::size_t title = 200;
inline constexpr std::size_t status = 64;
inline constexpr std::size_t stage = 200;
inline constexpr std::size_t message = 500;
} // namespace TextLimit

// UTF-8 `text` when it has at most `limit` characters (code points); otherwise its first `limit - 1`
// followed by "…". Cutting again changes nothing.
std::string boundedText(std::string text, std::size_t limit);

} // namespace parlo
