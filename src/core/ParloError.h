#pragma once

#include <QString>

#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

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

// A platform failure carrying the platform's own description (errno text, Qt error string, ...) and,
// when the platform gave one, its error code: the model words the user's sentence from the code and
// leaves the description, which may name paths, to the log.
class PlatformError : public std::runtime_error {
public:
    explicit PlatformError(const QString& description);
    explicit PlatformError(const std::string& description, std::error_code code = {})
        : std::runtime_error(description)
        , code_(code) {}

    // "<what> <path>: <the system's text for errno>", keeping `error` as the code.
    static PlatformError fromErrno(const std::string& what, const std::filesystem::path& path, int error);

    explicit PlatformError(const char* utf8Description) : std::runtime_error(utf8Description) {}

    std::error_code code() const { return code_; }

private:
    std::error_code code_;
};

// The text to show the user for any failure: the ParloError's message, or the description of any
// other exception; never empty.
QString describeError(const std::exception& error);
QString describeError(std::exception_ptr error);

} // namespace parlo
