#pragma once

#include "capture/AudioRecorder.h"
#include "library/LocalRecording.h"
#include "library/LocalStore.h"
#include "library/MeetingResult.h"
#include "model/AppModel.h"
#include "support/ModelFakes.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QColor>
#include <QKeyEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace parlo::test {

// How far apart two colours are: the sum of the differences of their channels.
inline int distance(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
}

// Types text key by key, as a keyboard layout with Cyrillic letters would deliver it (QTest's key
// clicks know only Latin keys).
inline void type(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

// A real model over a temporary data folder holding the given library.
class UiTest : public ::testing::Test {
protected:
    ScopedDataDir dataDir;
    QTemporaryDir settingsDir;
    QSettings settings{settingsDir.filePath(QStringLiteral("parlo.ini")), QSettings::IniFormat};
    bool microphone = true;
    bool systemAudio = true;
    RecorderScript script; // its `current` is the recorder the model holds

    std::unique_ptr<AppModel> makeModel(const std::vector<LocalRecording>& items,
                                        const std::function<void(AppModelServices&)>& adjust = {}) {
        LocalStore::prepare();
        LocalStore::save(items);
        AppModelServices services;
        services.settings = &settings;
        // No secret store in tests: the model must not look for a remembered session.
        services.rememberSession = false;
        services.recorderFactory = [this] { return std::make_unique<FakeRecorder>(script); };
        services.microphoneAuthorized = [this] { return microphone; };
        services.systemAudioPermission = [this] { return systemAudio; };
        if (adjust)
            adjust(services);
        return std::make_unique<AppModel>(false, std::move(services));
    }

    static LocalRecording recording(const std::string& title, double created, const char* status = "done") {
        return importedRecording(title, created, status);
    }

    static NoteItem note(const std::string& text, std::vector<std::int64_t> evidence) {
        NoteItem item;
        item.text = text;
        item.evidenceIds = std::move(evidence);
        return item;
    }

    static TranscriptSegment segment(std::int64_t id, double start, const std::string& text) {
        TranscriptSegment s;
        s.id = id;
        s.start = start;
        s.end = start + 2;
        s.speaker = "Анна";
        s.text = text;
        return s;
    }

    // A result with segments 1 (12.5 s) and 2 (a broken negative start), one summary point on each,
    // one decision pointing at no segment and no tasks.
    static ResultPointer sampleResult() {
        MeetingResult result;
        result.language = "ru";
        result.duration = 95.5;
        result.segments = {segment(1, 12.5, "Начнём с релиза."), segment(2, -4, "Сдвигаем на четверг.")};
        result.summary.mode = "meeting";
        result.summary.summary = {note("Релиз обсуждали", {1}), note("Сдвиг на четверг", {2})};
        result.summary.decisions = {note("Без ссылки на реплику", {99})};
        return std::make_shared<const StoredResult>(std::move(result));
    }
};

} // namespace parlo::test
