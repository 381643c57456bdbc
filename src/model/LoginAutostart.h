#pragma once

#include <QByteArray>
#include <QString>

namespace parlo {

// The XDG autostart entry through which the desktop starts the application in the background when
// the user logs in. The file is the only state: whoever wrote, edited or removed it (this
// application, the desktop's own autostart settings, the user), what it says is what will happen.
class LoginAutostart {
public:
    // "$XDG_CONFIG_HOME/autostart/mello-parlo.desktop", under ~/.config when the variable is unset
    // or not an absolute path (the base-directory rules say to ignore a relative one).
    static QString entryPath();

    // Whether the desktop will start the entry: it exists and is not switched off inside (Hidden=true,
    // or X-GNOME-Autostart-enabled=false, which desktops' autostart managers write instead of
    // removing it).
    static bool enabled();

    // Writes the entry that starts `program` with --background; atomically, so a session starting
    // meanwhile never reads half an entry. Throws PlatformError.
    static void enable(const QString& program);

    // Removes the entry; one that is not there is fine. Throws PlatformError.
    static void disable();

    // The entry's text for `program`.
    static QByteArray entry(const QString& program);

    // The Exec value starting `program` in the background, quoted and escaped by the desktop entry
    // rules (a path may hold spaces, quotes, '$' or '%').
    static QString execValue(const QString& program);
};

} // namespace parlo
