#include "shell/Entry.h"

#include "shell/ApplicationShell.h"
#include "shell/CheckModes.h"
#include "shell/RunMode.h"
#include "ui/PreviewRenderer.h"

#include <QApplication>
#include <QTimer>
#include <qcoro/qcorotask.h>

namespace parlo {

int Entry::main(int argc, char** argv) {
    // Decode the arguments with the locale's codec before Qt is up, so the mode is known first.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const RunSelection selection = selectRunMode(arguments);

    switch (selection.mode) {
    case RunMode::RenderPreview: {
        // Offscreen, whatever display the caller has: the picture must not depend on it.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return renderPreviewMode(selection.previewPath);
    }
    case RunMode::ProbeZoom: {
        QCoreApplication app(argc, argv);
        return runZoomProbe();
    }
    case RunMode::ProbeCalls: {
        QCoreApplication app(argc, argv);
        return runCallProbe();
    }
    case RunMode::SmokeUpload: {
        QCoreApplication app(argc, argv);
        int status = 1;
        auto run = [&]() -> QCoro::Task<> {
            status = co_await runSmokeUpload(selection);
            QCoreApplication::exit(status);
        };
        QTimer::singleShot(0, &app, [&] { run(); });
        app.exec();
        return status;
    }
    case RunMode::Application:
        break;
    }
    QApplication app(argc, argv);
    return runApplication(app, selection.preview, selection.background);
}

} // namespace parlo
