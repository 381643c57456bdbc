#pragma once

// What the user reads when an exchange with the transcription service fails. For each class of
// technical failure there is one sentence; the technical text goes to the log (category
// "parlo.service").
namespace parlo::ServerText {

// The service's answer could not be decoded.
inline constexpr const char* malformedAnswer = "Сервер прислал ответ, который не удалось прочитать.";
// The service could not be reached at all.
inline constexpr const char* network = "Нет связи с сервером. Проверьте подключение к интернету.";
inline constexpr const char* tls = "Не удалось установить защищённое соединение с сервером.";
inline constexpr const char* timedOut = "Истекло время ожидания ответа сервера.";
// A service address without TLS is refused before any key or session is sent.
inline constexpr const char* insecureBase =
    "Адрес сервиса должен начинаться с «https://». Без шифрования ключ доступа и сессия не отправляются.";

// The service answered with an error status and no message of its own.
inline constexpr const char* noAnswer = "Сервер не ответил.";
// The session is missing or was refused.
inline constexpr const char* signIn = "Войдите в личный кабинет.";
// An upload found no service; the recording waits on this computer.
inline constexpr const char* unreachable =
    "Не удалось связаться с сервером. Запись остаётся на этом компьютере.";
// A meeting id that is not 32 hexadecimal characters is never put into a request.
inline constexpr const char* badID = "Некорректный номер записи.";
// Signing in with the access key gave no session.
inline constexpr const char* noSession = "Сервер не выдал личную сессию.";
inline constexpr const char* tooLarge = "Размер записи должен быть меньше 90 МБ.";
// The upload was accepted but the answer named no meeting.
inline constexpr const char* noMeetingID = "Сервер не вернул номер записи.";
// An export format the service does not offer.
inline constexpr const char* unknownFormat = "Неизвестный формат.";
// The meeting's audio could not be downloaded, or not written to disk once downloaded.
inline constexpr const char* audioFailed = "Не удалось загрузить звук.";
inline constexpr const char* diskWrite = "Не удалось записать загруженный файл на диск.";
// The exchange was cancelled (the application quits, or the user signed out meanwhile).
inline constexpr const char* cancelled = "Обмен с сервером прерван.";
// The client went away while the password store answered.
inline constexpr const char* clientClosed = "Клиент сервера закрыт.";
// The password store refused to keep the session; it is held for this run only.
inline constexpr const char* sessionNotStored = "Не удалось сохранить сессию в хранилище паролей.";

} // namespace parlo::ServerText
