#pragma once

// What the user reads when a failure carries no sentence of its own.
namespace parlo::CoreText {

// A failure whose description is empty or that is not an exception at all.
inline constexpr const char* unknownError = "Неизвестная ошибка.";

// Starts the description of a file that cannot be mapped; the path and the system's reason follow.
inline constexpr const char* fileUnreadable = "Не удалось прочитать файл";

} // namespace parlo::CoreText
