#pragma once

#include <QString>

#include <exception>
#include <system_error>

namespace parlo {

// What was being done when a platform operation failed; it chooses the second half of the sentence.
enum class FailedStep {
    recordingStart, // creating the recording's folder and tracks, connecting to the sound server
    recordingMix,   // the stop's mix, the salvage at start-up, "Восстановить запись"
    import,         // copying a chosen file into the library
    librarySave,
    libraryRead,
};

// One Russian sentence for a failure, by its kind (disk full, no permission, device gone, missing)
// and the step. A ParloError is already the user's sentence and passes unchanged. The platform's own
// description, which names paths and is in English, goes to the log (qWarning) and nowhere else.
QString failureSentence(std::exception_ptr error, FailedStep step);

// While a recording's tracks cannot be written: the warning in the recording card and the desktop
// notification. Logs nothing (the caller logs the code once).
QString trackWriteWarning(std::error_code error);
// What the finished entry keeps after such a recording.
QString trackWriteNote(std::error_code error);

} // namespace parlo
