#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;

namespace parlo {

// One running application per library. Two processes over the same data folder would each hold the
// library in memory and overwrite each other's saves; so a second start (the desktop entry clicked
// again) only asks the running one to bring up its window and ends. The running process listens on a
// local socket named after its data folder, so a test or a preview with a folder of its own runs
// beside it.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `key` names what must be unique (the data folder); `parent` as usual.
    explicit SingleInstance(const QString& key, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the one: it listens from here on. False when another process
    // answered: it has been asked to show its window (unless `showWindow` is false: a start in the
    // background leaves the running one as it is), and this one should end.
    bool claim(bool showWindow = true);

    // The local socket's name for `key`.
    static QString socketName(const QString& key);

Q_SIGNALS:
    // A later start asks for the window.
    void activationRequested();

private:
    QString name_;
    QLocalServer* server_ = nullptr;
};

} // namespace parlo
