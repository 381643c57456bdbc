#pragma once

#include <QString>

#include <exception>
#include <stdexcept>
#include <string>

namespace parlo {

// The application's one error type: a single user-facing text, shown unchanged. Errors of other
// origins (files, network, secret store, sound server, encoder) derive from std::exception too and
// are shown by their own description.
class ParloError : public std::runtime_error {
public:
    explicit ParloError(const QString& message);
    explicit ParloError(const char* utf8Message) : std::runtime_error(utf8Message) {}

    QString message() const { return QString::fromUtf8(what()); }
};

// A platform failure carrying the platform's own description (errno text, Qt error string, ...).
class PlatformError : public std::runtime_error {
public:
    explicit PlatformError(const QString& description);
    explicit PlatformError(const std::string& description) : std::runtime_error(description) {}
    explicit PlatformError(const char* utf8Description) : std::runtime_error(utf8Description) {}
};

// The text to show the user for any failure: the ParloError's message, or the description of any
// other exception; never empty.
QString describeError(const std::exception& error);
QString describeError(std::exception_ptr error);

} // namespace parlo
