#pragma once

class QApplication;

namespace parlo {

// Run mode 5: the tray application with its main window. Returns the exit status.
int runApplication(QApplication& app, bool preview);

} // namespace parlo
