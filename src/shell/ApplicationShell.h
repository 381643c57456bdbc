#pragma once

class QApplication;

namespace parlo {

// Run mode 5: the tray application with its main window. Returns the exit status. In the
// `background` (at login) the window stays closed while a tray shows the icon.
int runApplication(QApplication& app, bool preview, bool background);

} // namespace parlo
