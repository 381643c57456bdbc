#pragma once

#include <QDateTime>

namespace parlo {

// Seconds since 2001-01-01 00:00:00 UTC, the library's time base.
using LibraryTime = double;
inline constexpr double kUnixTimeOfLibraryEpoch = 978307200.0;

// The two clocks the model reads: a monotonic one for debouncing call activity and the wall clock
// for dates. Tests drive both.
class Clock {
public:
    virtual ~Clock() = default;
    // Seconds of a monotonic clock that does not jump with the wall clock.
    virtual double uptime() const = 0;
    virtual QDateTime now() const = 0;
};

class SystemClock final : public Clock {
public:
    double uptime() const override;
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }
};

// Conversions between the wall clock and the library's time base (seconds since 2001-01-01 UTC).
double toLibraryTime(const QDateTime& moment);
QDateTime fromLibraryTime(double seconds);

} // namespace parlo
