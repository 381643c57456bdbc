#include "core/ParloError.h"

#include "core/CoreTexts.h"

namespace parlo {

ParloError::ParloError(const QString& message) : std::runtime_error(message.toStdString()) {}

PlatformError::PlatformError(const QString& description) : std::runtime_error(description.toStdString()) {}

PlatformError PlatformError::fromErrno(const std::string& what, const std::filesystem::path& path,
                                       int error) {
    const std::error_code code(error, std::generic_category());
    return PlatformError(what + " " + path.string() + ": " + code.message(), code);
}

QString describeError(const std::exception& error) {
    QString text = QString::fromUtf8(error.what());
    if (text.isEmpty())
        text = QString::fromUtf8(CoreText::unknownError);
    return text;
}

QString describeError(std::exception_ptr error) {
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return describeError(e);
    } catch (...) {
    }
    return QString::fromUtf8(CoreText::unknownError);
}

} // namespace parlo
