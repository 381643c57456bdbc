#pragma once

// What the user reads when the sound cannot be recorded. On Linux nothing is granted or refused per
// application: either the sound server answers and offers a default input and an output whose
// monitor can be recorded, or it does not, so the sentences name those and the sound settings.
namespace parlo::CaptureText {

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

} // namespace parlo::CaptureText
