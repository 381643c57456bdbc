#pragma once

#include <QString>
#include <QUrl>
#include <qcoro/qcorotask.h>

#include <functional>

namespace parlo::platform {

// Shows `file` selected in the desktop's file manager: org.freedesktop.FileManager1.ShowItems with
// the file's URI on the session bus (or the bus at `busAddress`, for tests). When no file manager
// answers there, `openFolder` opens the folder that holds the file (QDesktopServices in the
// application). Throws PlatformError, in Russian, when neither works.
QCoro::Task<> revealInFileManager(QString file, std::function<bool(const QUrl&)> openFolder,
                                  QString busAddress = {});

} // namespace parlo::platform
