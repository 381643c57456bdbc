#pragma once

// What the user reads about the library: the status of each entry in the list, and the beginnings of
// the descriptions of failed file and search operations (a path and the system's reason follow them).
namespace parlo::LibraryText {

// The status an entry shows in the list, by its state.
inline constexpr const char* statusRecording = "Запись";
inline constexpr const char* statusSending = "Отправка"; // saved and about to go, or going
inline constexpr const char* statusWaitingLogin = "Сохранено на компьютере";
inline constexpr const char* statusQueued = "В очереди";
inline constexpr const char* statusProcessing = "Расшифровка";
inline constexpr const char* statusDone = "Готово";
inline constexpr const char* statusNeedsCheck = "Нужна проверка";

// What an entry found "recording" at load says until its raw tracks have been dealt with.
inline constexpr const char* interruptedError =
    "Приложение завершилось во время записи. Исходные дорожки сохранены в папке разговора.";

// The library's folders and files could not be made or written.
inline constexpr const char* folderNotCreated = "Не удалось создать папку";
inline constexpr const char* fileNotCreated = "Не удалось создать файл";
inline constexpr const char* fileNotWritten = "Не удалось записать файл";
inline constexpr const char* fileNotReplaced = "Не удалось заменить файл";
inline constexpr const char* folderModeNotSet = "Не удалось изменить права папки";
inline constexpr const char* fileModeNotSet = "Не удалось изменить права файла";
// A damaged library.json could not be moved aside before a fresh one is written.
inline constexpr const char* damagedNotSetAside = "Не удалось отложить повреждённый файл";

// The transcript search's database failed; "Поиск: " and what was being done come first.
inline constexpr const char* searchPrefix = "Поиск: ";
inline constexpr const char* searchNoMemory = "нет памяти";
inline constexpr const char* searchQueryNotPrepared = "не удалось подготовить запрос";
inline constexpr const char* searchDatabaseError = "ошибка базы";
inline constexpr const char* searchDatabaseNotPrepared = "не удалось подготовить базу";
inline constexpr const char* searchNotOpened = "не удалось открыть";
inline constexpr const char* searchFolderNotCreated = "не удалось создать папку";
inline constexpr const char* searchNoFullText = "в SQLite нет полнотекстового поиска FTS5";

} // namespace parlo::LibraryText
