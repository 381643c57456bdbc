#pragma once

// What the user reads when a desktop service the program relies on is missing.
namespace parlo::PlatformText {

// "Показать файлы" found neither a file manager on the bus nor a program for folders; %1 is the folder.
inline constexpr const char* noFileManager =
    "Не удалось открыть папку записи: в системе нет файлового менеджера. Файлы лежат в %1";

} // namespace parlo::PlatformText
