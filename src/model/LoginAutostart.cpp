#include "model/LoginAutostart.h"

#include "core/ParloError.h"
#include "model/ModelTexts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace parlo {

namespace {

constexpr qint64 kEntryReadLimit = 64 * 1024;

// The string escapes of a desktop entry value, applied last to the whole value.
QString escapeValue(const QString& value) {
    QString escaped = value;
    // The backslash first, so the escapes added after it stay single.
    escaped.replace(u'\\', QStringLiteral("\\\\"));
    escaped.replace(u'\n', QStringLiteral("\\n"));
    escaped.replace(u'\t', QStringLiteral("\\t"));
    escaped.replace(u'\r', QStringLiteral("\\r"));
    return escaped;
}

// One argument of an Exec value: in double quotes when it holds a reserved character, with the four
// characters that stay special inside quotes escaped; '%' doubled everywhere, as it starts field codes.
QString execArgument(const QString& argument) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = argument.isEmpty();
    QString escaped;
    for (const QChar c : argument) {
        quote = quote || reserved.contains(c);
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            escaped += u'\\';
        escaped += c;
        if (c == u'%')
            escaped += u'%';
    }
    return quote ? u'"' + escaped + u'"' : escaped;
}

} // namespace

QString LoginAutostart::entryPath() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart/mello-parlo.desktop");
}

bool LoginAutostart::enabled() {
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bool inEntry = false;
    for (const QByteArray& raw : file.read(kEntryReadLimit).split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inEntry || equals < 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if ((key == "Hidden" && value == "true") || (key == "X-GNOME-Autostart-enabled" && value == "false"))
            return false;
    }
    return true;
}

void LoginAutostart::enable(const QString& program) {
    const QString path = entryPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        throw PlatformError(QStringLiteral("cannot create ") + QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(entry(program)) < 0 || !file.commit())
        throw PlatformError(file.errorString());
}

void LoginAutostart::disable() {
    QFile file(entryPath());
    if (!file.remove() && QFileInfo(file).isFile())
        throw PlatformError(file.errorString());
}

QByteArray LoginAutostart::entry(const QString& program) {
    // TryExec: once the program is gone (the package removed), the desktop skips the entry instead
    // of failing to start it at every login.
    const QString text =
        QStringLiteral("[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=Mello Parlo\n"
                       "Comment=%3\n"
                       "Exec=%1\n"
                       "TryExec=%2\n"
                       "Icon=mello-parlo\n"
                       "Terminal=false\n")
            .arg(execValue(program), escapeValue(program), QString::fromUtf8(ModelText::loginStartComment));
    return text.toUtf8();
}

QString LoginAutostart::execValue(const QString& program) {
    return escapeValue(execArgument(program) + QStringLiteral(" --background"));
}

} // namespace parlo
