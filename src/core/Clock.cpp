#include "core/Clock.h"

#include <chrono>

namespace parlo {

double SystemClock::uptime() const {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double toLibraryTime(const QDateTime& moment) {
    return static_cast<double>(moment.toMSecsSinceEpoch()) / 1000.0 - kUnixTimeOfLibraryEpoch;
}

QDateTime fromLibraryTime(double seconds) {
    const double unixMs = (seconds + kUnixTimeOfLibraryEpoch) * 1000.0;
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(unixMs), Qt::UTC);
}

} // namespace parlo
