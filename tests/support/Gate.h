#pragma once

#include <QObject>
#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotask.h>

namespace parlo::test {

// Lets a test hold a fake's asynchronous operation half-way: pass() waits while the gate is closed.
class Gate : public QObject {
    Q_OBJECT
public:
    bool closed = false;
    QCoro::Task<> pass() {
        if (closed)
            co_await qCoro(this, &Gate::opened);
    }
    void open() {
        closed = false;
        Q_EMIT opened();
    }
Q_SIGNALS:
    void opened();
};

} // namespace parlo::test
