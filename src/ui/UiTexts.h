#pragma once

// The words of the interface: the main window, the recording card, the settings sheet and the tray
// menu. Commands that appear in several places (the record button and the tray's action) are one
// text. %1 is filled with QString::arg.
namespace parlo::UiText {

// Commands shared by the main window, the tray menu and the settings sheet.
inline constexpr const char* record = "Записать";
inline constexpr const char* startingRecording = "Начинаю запись…";
inline constexpr const char* autoStart = "Автостарт звонков";
inline constexpr const char* settings = "Настройки";
inline constexpr const char* addRecording = "Добавить запись";
inline constexpr const char* addRecordingCommand = "Добавить запись…"; // opens a file dialog
inline constexpr const char* systemAudio = "Звук компьютера";

// The sidebar.
inline constexpr const char* libraryHeading = "БИБЛИОТЕКА";
inline constexpr const char* allConversations = "Все разговоры";
inline constexpr const char* sidebarQuote = "Меньше заметок.\nБольше внимания\nк разговору.";
inline constexpr const char* personalSpace = "Личное пространство";

// The header of the main window and the recording panel.
inline constexpr const char* previewBanner = "ПРЕДПРОСМОТР · СИНТЕТИЧЕСКИЙ ПРИМЕР · ЗАПИСЬ ВЫКЛЮЧЕНА";
inline constexpr const char* yourPersonalSpace = "ВАШЕ ЛИЧНОЕ ПРОСТРАНСТВО";
inline constexpr const char* footerMotto = "Звук остаётся с вами. Главное — под рукой.";
inline constexpr const char* yourMicrophone = "Ваш микрофон";
inline constexpr const char* finish = "Завершить";
inline constexpr const char* setUpAccess = "Настроить доступ";
inline constexpr const char* openSoundSettings = "Открыть настройки звука";
inline constexpr const char* recordingLimits =
    "Только звук · Сначала на этом компьютере, затем в ваш личный кабинет · До 2 часов за одну запись";
inline constexpr const char* accountConnected = "Кабинет подключён";
inline constexpr const char* savingLocally = "Сохранение на этом компьютере";
// The headline, by whether a call is being recorded.
inline constexpr const char* eyebrowRecording = "ВСТРЕЧА ИДЁТ";
inline constexpr const char* eyebrowIdle = "ВНИМАНИЕ НА РАЗГОВОРЕ";
inline constexpr const char* headlineRecording = "Я сохраняю главное.";
inline constexpr const char* headlineIdle = "Запишите любой разговор.";
inline constexpr const char* subtitleRecording =
    "Звук компьютера и ваш голос записываются на этом компьютере.";
inline constexpr const char* subtitleIdle = "Google Meet, Zoom и любые другие приложения.\nНажмите "
                                            "«Записать» — после завершения появится расшифровка.";

// The library column.
inline constexpr const char* savedMoments = "СОХРАНЁННЫЕ МОМЕНТЫ";
inline constexpr const char* yourConversations = "Ваши разговоры";
inline constexpr const char* findConversation = "Найти разговор";
inline constexpr const char* emptyLibrary = "Первый разговор\nпоявится здесь";
inline constexpr const char* nothingSelectedHeading = "Всё важное — рядом";
inline constexpr const char* nothingSelected =
    "Выберите разговор, чтобы послушать запись,\nпрочитать итоги и вернуться к нужным словам.";
// The transcript search's matches: the heading, and where a match of a summary is (%1: its time).
inline constexpr const char* inTranscripts = "В расшифровках";
inline constexpr const char* inSummary = "Итоги";
inline constexpr const char* inSummaryAt = "Итоги · %1";

// Deleting a recording: the card's action and the question before it (%1: the title).
inline constexpr const char* deleteRecording = "Удалить запись";
inline constexpr const char* deleteRecordingCommand = "Удалить запись…";
inline constexpr const char* deleteQuestion = "Удалить запись «%1»?";
inline constexpr const char* deleteMovesToTrash = "Папка записи со звуком переместится в корзину.";
inline constexpr const char* deleteKeepsInAccount =
    " В личном кабинете запись останется: удалите её там, если она больше не нужна.";
inline constexpr const char* deleteConfirm = "Удалить";
inline constexpr const char* cancel = "Отмена";

// The recording card.
inline constexpr const char* recordingInProgress =
    "Разговор сохраняется на этом компьютере. После завершения запись отправится на расшифровку.";
inline constexpr const char* renameHint = "Дважды щёлкните, чтобы переименовать";
inline constexpr const char* exportAs = "Экспорт %1"; // %1: the format, "MD", "TXT"...
inline constexpr const char* saveAudio = "Сохранить аудио…";
inline constexpr const char* showFiles = "Показать файлы";
inline constexpr const char* openAccount = "Открыть личный кабинет";
inline constexpr const char* rename = "Переименовать";
inline constexpr const char* retryUpload = "Повторить отправку";
inline constexpr const char* restoreRecording = "Восстановить запись";
inline constexpr const char* summaryTab = "Итоги и задачи";
inline constexpr const char* transcriptTab = "Расшифровка";
inline constexpr const char* summarySection = "Краткий итог";
inline constexpr const char* decisionsSection = "Решения";
inline constexpr const char* tasksSection = "Задачи";
inline constexpr const char* summaryCaution =
    "AI-итог стоит сверить с записью. Кнопка времени ведёт к исходной реплике.";
inline constexpr const char* noneMarked = "Явно не выделены.";
// While there is no result yet, by whether the account is connected.
inline constexpr const char* connectToTranscribe =
    "Подключите личный кабинет в настройках — файл уже сохранён на этом компьютере.";
inline constexpr const char* resultLater =
    "Можно продолжать работу. Результат появится здесь после обработки.";

// Playing a recording's sound (%1: the missing file).
inline constexpr const char* audioFileMissing = "Файл записи не найден: %1";
inline constexpr const char* audioNotOpened = "Не удалось открыть звук записи.";
inline constexpr const char* audioLoadTimedOut = "Звук записи не загрузился вовремя.";

// The settings sheet: access to the sound.
inline constexpr const char* done = "Готово";
inline constexpr const char* soundAccess = "Доступ к звуку";
inline constexpr const char* soundAccessPurpose = "Для любого звонка или голосовой заметки.";
inline constexpr const char* close = "Закрыть";
inline constexpr const char* granted = "Разрешено";
inline constexpr const char* permissionNeeded = "Нужно разрешение";
inline constexpr const char* systemPermissions = "Разрешения системы";
inline constexpr const char* microphone = "Микрофон";
inline constexpr const char* whatIsRecorded =
    "Приложение сохраняет системный звук всех приложений и ваш микрофон. В запись могут попасть другие "
    "звуки компьютера, например уведомления. Видео экрана не сохраняется.";
inline constexpr const char* allowRecording = "Разрешить запись звука";
inline constexpr const char* checkAccess = "Проверить доступ";
inline constexpr const char* checkingAccess = "Проверяю…";
// The settings sheet: the account.
inline constexpr const char* accountReady = "Подключён. Расшифровка включена.";
inline constexpr const char* openAccountShort = "Открыть кабинет";
inline constexpr const char* signOut = "Выйти";
inline constexpr const char* accessKey = "Ключ личного доступа";
inline constexpr const char* connect = "Подключить";
inline constexpr const char* connecting = "Подключаю…";
inline constexpr const char* chooseAccessFile = "Выбрать файл доступа";
inline constexpr const char* sessionStorage =
    "Сессия сохраняется в хранилище паролей системы. Сам ключ доступа не сохраняется.";
// The settings sheet: starting by itself.
inline constexpr const char* autoStartExplained =
    "Автостарт следит за использованием микрофона другими приложениями; Zoom также определяется по "
    "выходному звуку. Диктовка и аудиотесты тоже могут включить запись. Для звонков без микрофона можно "
    "нажать «Записать» вручную.";
inline constexpr const char* manualRecordingExplained =
    "Ручная запись идёт до нажатия «Завершить». Микрофон Mello записывается независимо от кнопки mute в "
    "приложении звонка. Для чистого звука рекомендуются наушники.";
inline constexpr const char* startAtLogin = "Запускать при входе в систему";
inline constexpr const char* startsInTray = "Mello Parlo запускается без окна, значком в трее.";

// The tray menu and its notifications.
inline constexpr const char* openApplication = "Открыть приложение";
inline constexpr const char* stopRecording = "Завершить запись";
inline constexpr const char* settingsCommand = "Настройки…";
inline constexpr const char* quit = "Завершить Mello Parlo";
inline constexpr const char* checkRecordingSound = "Проверьте звук записи";
inline constexpr const char* recordingFinishedTitle = "Запись завершена";
inline constexpr const char* recordingFinished =
    "Звонок закончился. Mello Parlo остановил запись и сохранил её.";
inline constexpr const char* callRecordingTitle = "Идёт запись звонка";
inline constexpr const char* callRecording =
    "Mello Parlo заметил звонок и записывает звук компьютера и микрофон.";

} // namespace parlo::UiText
