#pragma once

// What the user reads from the model: notices, the app's state line, the stages of library entries,
// the warnings while a call is recorded and the sentences for failures, which FailureText chooses by
// the step and the kind of error. %1, %2 are filled with QString::arg.
namespace parlo::ModelText {

// The app's state line, by what it is doing.
inline constexpr const char* stateSaving = "Сохраняю разговор";
inline constexpr const char* stateRecording = "Записываю разговор";
inline constexpr const char* stateCheckingAccess = "Проверяю доступ к звуку";
inline constexpr const char* stateNeedsAccess = "Нужен доступ к звуку";
inline constexpr const char* stateStarting = "Начинаю запись";
inline constexpr const char* stateReady = "Готов к записи";
inline constexpr const char* stateAutoStartUnavailable = "Автостарт недоступен · можно записать вручную";
inline constexpr const char* stateCallDetected = "Обнаружен звуковой звонок";
inline constexpr const char* stateWaitingForCall = "Ожидаю звонок · можно записать вручную";

// Under the record button while nothing is recorded and both kinds of access are there.
inline constexpr const char* recordingHint =
    "Нажмите «Записать» в любом приложении: сохраняются звук компьютера и ваш микрофон. Ручная запись "
    "идёт до нажатия «Завершить».";

// The preview shows a synthetic library and refuses everything that would record, save or send.
inline constexpr const char* previewNoRecording = "В предпросмотре запись выключена.";
inline constexpr const char* previewNoLoginStart = "В предпросмотре запуск при входе в систему не меняется.";
inline constexpr const char* previewNothingSaved = "В предпросмотре ничего не сохраняется и не отправляется.";
// The preview's one entry.
inline constexpr const char* previewTitle = "Синтетическая встреча · планы на неделю";
inline constexpr const char* previewSource = "Синтетический пример";

// Automatic start of call recording: refused without access, and the advice to start at login.
inline constexpr const char* autoStartNeedsAccess =
    "Разрешите микрофон и запись системного звука, затем включите автостарт звонков.";
inline constexpr const char* autoStartOnlyWhileRunning =
    "Автостарт звонков работает, пока Mello Parlo запущен: включите «Запускать при входе в систему» в "
    "настройках, чтобы не пропустить звонок после перезагрузки.";
// Starting at login could not be switched; %1 is the reason.
inline constexpr const char* loginStartNotEnabled = "Не удалось включить запуск при входе в систему: %1";
inline constexpr const char* loginStartNotDisabled = "Не удалось отключить запуск при входе в систему: %1";
// The description of the autostart entry, shown by the desktop's list of startup programs.
inline constexpr const char* loginStartComment = "Запись звонков: запуск в трее при входе в систему";

// The answer of "Проверить доступ".
inline constexpr const char* accessGranted = "Микрофон и системный звук доступны. Можно нажать «Записать».";
inline constexpr const char* systemAudioNotRecorded =
    "Звук компьютера пока не записывается: звуковой сервер не отдал звук устройства вывода. Выберите "
    "устройство вывода в настройках звука системы, затем нажмите «Проверить доступ».";
inline constexpr const char* accessStillMissing =
    "Разрешите недостающий доступ в настройках системы, затем нажмите «Проверить доступ».";
// Neither pavucontrol nor the desktop's sound settings could be started.
inline constexpr const char* soundSettingsUnavailable =
    "Не удалось открыть настройки звука. Установите pavucontrol или откройте настройки звука рабочего "
    "стола.";

// A recording: its title (%1 is the day and time it started), where its sound comes from, the limit.
inline constexpr const char* recordingTitle = "Разговор · %1";
inline constexpr const char* recordingSource = "Звук компьютера + микрофон";
inline constexpr const char* limitReached = "Достигнут лимит двух часов. Запись сохранена.";
// Playing a recording would put its sound into the one being made.
inline constexpr const char* playbackWhileRecording =
    "Во время записи воспроизведение недоступно: всё, что звучит на компьютере, попадает в запись.";

// While recording, one side has not been heard for a while.
inline constexpr const char* microphoneSilent =
    "Микрофон молчит уже 20 секунд, хотя звук компьютера идёт. Проверьте, не выключен ли микрофон и тот "
    "ли выбран в настройках звука.";
inline constexpr const char* systemAudioSilent =
    "Звук компьютера не записывается уже 20 секунд, хотя микрофон вас слышит. Проверьте, что звонок "
    "звучит через устройство вывода, выбранное в настройках звука.";
inline constexpr const char* bothSilent =
    "Ни микрофон, ни звук компьютера не слышны уже минуту. Проверьте устройства в настройках звука.";

// The stage an entry shows while it is made, sent or restored.
inline constexpr const char* stageRecording = "Запись разговора";
inline constexpr const char* stageNotStarted = "Запись не началась";
inline constexpr const char* stageNeedsCheck = "Нужно проверить запись";
inline constexpr const char* stageRestoring = "Восстанавливаю запись";
inline constexpr const char* stageReadyToSend = "Готово к отправке";
inline constexpr const char* stageSignInToTranscribe = "Войдите для расшифровки";
inline constexpr const char* stageSending = "Отправляю на расшифровку";
inline constexpr const char* stageKeptLocally = "Запись остаётся на этом компьютере";
inline constexpr const char* stageSaved = "Запись сохранена";

// Entries that a previous run left unfinished.
inline constexpr const char* interruptedWithoutSound =
    "Приложение завершилось во время записи, и звук этой записи не сохранился.";
inline constexpr const char* interruptedRestored =
    "Записи, прерванные при прошлом запуске, восстановлены: %1.";
inline constexpr const char* restored = "Запись восстановлена.";
// library.json was damaged and set aside; %1 is the name it was kept under.
inline constexpr const char* libraryDamaged =
    "Файл библиотеки повреждён. Записи, прочитанные до повреждения, на месте, а сам файл сохранён рядом как "
    "«%1».";
// The library could not be saved for a reason with no sentence of its own.
inline constexpr const char* libraryNotSaved =
    "Не удалось сохранить библиотеку на этом компьютере. Проверьте свободное место.";

// The personal account of the transcription service, and where an entry taken from it came from.
inline constexpr const char* account = "Личный кабинет";
inline constexpr const char* accountConnected = "Личный кабинет подключён.";
inline constexpr const char* signedOut =
    "Сессия завершена. Новые записи останутся на этом компьютере до следующего входа.";
// The chosen access file holds no key.
inline constexpr const char* noKeyInFile = "В файле не найден ключ Mello Parlo.";

// Adding a file to the library.
inline constexpr const char* importSource = "Импорт";
inline constexpr const char* importTooLarge = "Максимальный размер файла — 90 МБ.";

// Deleting an entry is refused while its sound is in use.
inline constexpr const char* deleteWhileSaving = "Запись нельзя удалить, пока она сохраняется.";
inline constexpr const char* deleteWhileRecording = "Запись нельзя удалить, пока она идёт.";
inline constexpr const char* deleteWhileSending =
    "Запись нельзя удалить, пока она отправляется на расшифровку.";
// The folder could not go to the trash; %1 is the folder, where the files stay.
inline constexpr const char* trashFailed =
    "Не удалось переместить запись в корзину. Её файлы остались в папке %1";

// Renaming an entry.
inline constexpr const char* titleEmpty = "Название записи не может быть пустым.";
inline constexpr const char* titleTooLong = "Название записи длиннее %1 символов."; // %1: the limit

// Saving a recording's audio elsewhere: the proposed name when the title gives none, and the
// failures of the copy (%1 is the file, %2 the system's reason).
inline constexpr const char* defaultFileName = "Запись";
inline constexpr const char* copyNotOpened = "Не удалось открыть %1: %2";
inline constexpr const char* copyNotRead = "Не удалось прочитать %1: %2";
inline constexpr const char* copyNotSaved = "Не удалось сохранить %1: %2";
// Neither a file nor the service's copy of the sound is there yet.
inline constexpr const char* audioNotReady = "Звук пока не готов.";

// The transcript search's database failed; %1 is its description.
inline constexpr const char* searchUnavailable = "Поиск по расшифровкам недоступен: %1";

// A recording could not start: the disk is full, refuses, is gone, the data folder is missing, another
// system error, or the sound server did not answer.
inline constexpr const char* startDiskFull = "Диск заполнен — освободите место, чтобы начать запись.";
inline constexpr const char* startNoPermission =
    "Нет прав на запись в папку данных Mello Parlo, поэтому запись не началась.";
inline constexpr const char* startDiskGone =
    "Диск с данными Mello Parlo недоступен, поэтому запись не началась.";
inline constexpr const char* startFolderMissing =
    "Папка данных Mello Parlo не найдена, поэтому запись не началась.";
inline constexpr const char* startSystemError = "Запись не началась из-за ошибки системы.";
inline constexpr const char* startNoSoundServer = "Звуковой сервер не ответил, поэтому запись не началась.";

// The tracks could not be mixed into the file; they stay for "Восстановить запись" where it can help.
inline constexpr const char* mixDiskFull =
    "Диск заполнен, и запись не удалось свести в файл: исходные дорожки сохранены — освободите место и "
    "нажмите «Восстановить запись».";
inline constexpr const char* mixNoPermission =
    "Нет прав на запись в папку разговора: исходные дорожки сохранены — исправьте права и нажмите "
    "«Восстановить запись».";
inline constexpr const char* mixDiskGone =
    "Диск с записью недоступен: исходные дорожки сохранены — подключите его и нажмите «Восстановить запись».";
inline constexpr const char* mixFolderMissing =
    "Папка разговора не найдена, поэтому запись не удалось свести в файл.";
inline constexpr const char* mixFailed =
    "Запись не удалось свести в файл: исходные дорожки сохранены — можно нажать «Восстановить запись».";

// A chosen file could not be added to the library.
inline constexpr const char* importDiskFull = "Диск заполнен, поэтому файл не добавлен.";
inline constexpr const char* importNoPermission =
    "Нет прав на чтение файла или на запись в папку данных, поэтому файл не добавлен.";
inline constexpr const char* importDiskGone = "Диск недоступен, поэтому файл не добавлен.";
inline constexpr const char* importFileMissing = "Выбранный файл не найден.";
inline constexpr const char* importFailed = "Не удалось добавить файл.";

// The library could not be saved (libraryNotSaved for every other reason) or read; while it cannot
// be read nothing is written over it.
inline constexpr const char* saveNoPermission =
    "Не удалось сохранить библиотеку: нет прав на запись в папку данных Mello Parlo.";
inline constexpr const char* saveDiskGone = "Не удалось сохранить библиотеку: диск с данными недоступен.";
inline constexpr const char* readNoPermission =
    "Нет прав на чтение библиотеки записей, и пока её не удастся прочитать, Mello Parlo ничего в ней не "
    "изменит.";
inline constexpr const char* readDiskError =
    "Библиотека записей не читается из-за ошибки диска, и пока её не удастся прочитать, Mello Parlo ничего "
    "в ней не изменит.";
inline constexpr const char* readFailed =
    "Библиотеку записей не удалось прочитать, и пока это не получится, Mello Parlo ничего в ней не изменит.";

// While the tracks of a running recording cannot be written: the card's warning and the notification.
inline constexpr const char* tracksDiskFull =
    "Диск заполнен: звук разговора сейчас не сохраняется — освободите место, и запись продолжится сама.";
inline constexpr const char* tracksNoPermission =
    "Нет прав на запись дорожек: звук разговора сейчас не сохраняется.";
inline constexpr const char* tracksDiskGone =
    "Диск с записью недоступен: звук разговора сейчас не сохраняется.";
inline constexpr const char* tracksFailed =
    "Звук разговора сейчас не сохраняется из-за ошибки записи на диск.";
// What the finished entry keeps after such a recording.
inline constexpr const char* partLostDiskFull =
    "Во время записи диск был заполнен, и часть разговора не сохранилась.";
inline constexpr const char* partLostDiskError =
    "Во время записи диск отказывал, и часть разговора не сохранилась.";

} // namespace parlo::ModelText
