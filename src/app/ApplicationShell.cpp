#include "app/ApplicationShell.h"

#include <QApplication>
#include <cstdio>

namespace parlo {

// The tray application and its window are not part of this build yet.
int runApplication(QApplication&, bool) {
    std::fputs("Mello Parlo: this build has no main window yet\n", stderr);
    return 1;
}

} // namespace parlo
