#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace parlo {

enum class RunMode { RenderPreview, ProbeZoom, ProbeCalls, SmokeUpload, Application };

// What the command line asks for. Values are only filled for the mode that uses them.
struct RunSelection {
    RunMode mode = RunMode::Application;
    QString previewPath;     // RenderPreview: the image to write
    QString smokeFile;       // SmokeUpload: the audio file
    QString accessFile;      // SmokeUpload: the personal access file
    QString testRoot;        // SmokeUpload: data folder and result folder
    bool preview = false;    // Application: show the synthetic fixture, capture and network off
    bool background = false; // Application: the tray icon only, no window (started at login)
};

// Chooses the run mode from the full argument list (index 0 is the program path). Arguments are
// whole strings, the first occurrence of an option counts and its value is the next argument; an
// option standing last has no value. An incomplete self-test line starts the application.
RunSelection selectRunMode(const QStringList& arguments);

} // namespace parlo
