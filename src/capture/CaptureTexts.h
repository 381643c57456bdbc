#pragma once

// What the user reads about recording the sound: access to it, and how a recording ended.
namespace parlo::CaptureText {

// On Linux nothing is granted or refused per application: either the sound server answers and offers
// a default input and an output whose monitor can be recorded, or it does not, so the sentences
// about access name those and the sound settings.

// The microphone or the computer's sound is not available before a recording starts.
inline constexpr const char* accessMissing =
    "Нет доступа к микрофону или звуку компьютера. Проверьте, что звуковой сервер (PulseAudio или "
    "PipeWire) запущен, а в настройках звука системы выбраны микрофон и устройство вывода.";

// The computer's sound cannot be recorded: no sound server, or no output whose sound it can record.
inline constexpr const char* noSystemAudio =
    "Не удалось получить доступ к звуку компьютера: звуковой сервер не отвечает или у него нет "
    "устройства вывода, звук которого можно записать. Выберите устройство вывода в настройках звука "
    "системы.";

// The sound server answers but has no microphone to record.
inline constexpr const char* noMicrophone =
    "Микрофон не найден: в настройках звука системы не выбрано устройство ввода.";

// The recorder was asked to stop or finish although no recording had been started.
inline constexpr const char* notStarted = "Запись не была начата.";

// The sound server ended the capture on its own; the tracks so far are kept and mixed.
inline constexpr const char* captureInterrupted = "Захват звука прервался. Сохраняю доступные дорожки.";

// After a recording in which some blocks could not be written, by the disk's answer.
inline constexpr const char* partLostDiskFull = "Диск был заполнен — часть разговора не записалась.";
inline constexpr const char* partLostDiskError = "Часть разговора не записалась из-за ошибки диска.";

// The stop found no sound, too short a call, or a mixed file with no audio; the tracks stay.
inline constexpr const char* nothingReceived =
    "Звук не поступил ни с компьютера, ни с микрофона. Исходные файлы сохранены для проверки.";
inline constexpr const char* tooShort = "Запись короче двух секунд. Исходные дорожки сохранены.";
inline constexpr const char* audioNotSaved = "Не удалось сохранить звук.";

// The recording was saved, but one side never sent a sound.
inline constexpr const char* savedWithoutSystemAudio =
    "Запись сохранена. Системный звук не поступал — в файле есть только микрофон.";
inline constexpr const char* savedWithoutMicrophone =
    "Запись сохранена. Микрофон не поступал — в файле есть только звук компьютера.";

} // namespace parlo::CaptureText
