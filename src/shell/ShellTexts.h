#pragma once

// What the user reads from the program's shell: the titles and filters of its file dialogs and what a
// terminal is told when the program is asked to quit by a signal.
namespace parlo::ShellText {

// The file dialogs. Each list of files ends with every file; %1 is the extension of the audio saved.
inline constexpr const char* accessFileTitle = "Файл доступа";
inline constexpr const char* exportTitle = "Экспорт";
inline constexpr const char* saveAudioTitle = "Сохранить аудио";
inline constexpr const char* textFiles = "Текстовые файлы (*.txt *.text *.md)";
inline constexpr const char* audioAndVideoFiles =
    "Аудио и видео (*.m4a *.mp3 *.wav *.aac *.flac *.ogg *.oga *.opus *.webm *.aif *.aiff *.caf *.wma "
    "*.amr *.mp4 *.m4v *.mov *.mkv *.avi *.3gp)";
inline constexpr const char* audioFiles = "Аудио (*.%1)";
inline constexpr const char* allFiles = "Все файлы (*)";

// A first SIGINT or SIGTERM while a recording is saved, and a second one within three seconds.
inline constexpr const char* quitWaiting =
    "Mello Parlo: сохраняю запись и завершаюсь. Чтобы выйти сразу, повторите сигнал ещё раз в течение "
    "трёх секунд — запись восстановится при следующем запуске.\n";
inline constexpr const char* quitNow =
    "Mello Parlo: выхожу, не дожидаясь сохранения; запись восстановится при следующем запуске.\n";

} // namespace parlo::ShellText
