#include "model/FailureText.h"

#include "core/CoreTexts.h"
#include "core/ParloError.h"
#include "model/ModelTexts.h"

#include <QDebug>

#include <cerrno>

namespace parlo {

namespace {

enum class Kind { diskFull, noPermission, deviceGone, missing, other, unknown };

Kind kindOf(std::error_code code) {
    if (!code)
        return Kind::unknown;
    if (code.category() != std::generic_category() && code.category() != std::system_category())
        return Kind::other;
    switch (code.value()) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG: // the file may not grow (a size limit): to the user the disk takes no more
        return Kind::diskFull;
    case EACCES:
    case EPERM:
    case EROFS:
        return Kind::noPermission;
    case EIO:
    case ENODEV:
    case ENXIO:
    case ENOMEDIUM:
    case ESTALE:
    case ENOTCONN:
        return Kind::deviceGone;
    case ENOENT:
    case ENOTDIR:
        return Kind::missing;
    default:
        return Kind::other;
    }
}

QString sentence(Kind kind, FailedStep step) {
    switch (step) {
    case FailedStep::recordingStart:
        switch (kind) {
        case Kind::diskFull:
            return QString::fromUtf8(ModelText::startDiskFull);
        case Kind::noPermission:
            return QString::fromUtf8(ModelText::startNoPermission);
        case Kind::deviceGone:
            return QString::fromUtf8(ModelText::startDiskGone);
        case Kind::missing:
            return QString::fromUtf8(ModelText::startFolderMissing);
        case Kind::other:
            return QString::fromUtf8(ModelText::startSystemError);
        case Kind::unknown:
            return QString::fromUtf8(ModelText::startNoSoundServer);
        }
        break;
    case FailedStep::recordingMix:
        switch (kind) {
        case Kind::diskFull:
            return QString::fromUtf8(ModelText::mixDiskFull);
        case Kind::noPermission:
            return QString::fromUtf8(ModelText::mixNoPermission);
        case Kind::deviceGone:
            return QString::fromUtf8(ModelText::mixDiskGone);
        case Kind::missing:
            return QString::fromUtf8(ModelText::mixFolderMissing);
        case Kind::other:
        case Kind::unknown:
            return QString::fromUtf8(ModelText::mixFailed);
        }
        break;
    case FailedStep::import:
        switch (kind) {
        case Kind::diskFull:
            return QString::fromUtf8(ModelText::importDiskFull);
        case Kind::noPermission:
            return QString::fromUtf8(ModelText::importNoPermission);
        case Kind::deviceGone:
            return QString::fromUtf8(ModelText::importDiskGone);
        case Kind::missing:
            return QString::fromUtf8(ModelText::importFileMissing);
        case Kind::other:
        case Kind::unknown:
            return QString::fromUtf8(ModelText::importFailed);
        }
        break;
    case FailedStep::librarySave:
        switch (kind) {
        case Kind::noPermission:
            return QString::fromUtf8(ModelText::saveNoPermission);
        case Kind::deviceGone:
            return QString::fromUtf8(ModelText::saveDiskGone);
        default:
            return QString::fromUtf8(ModelText::libraryNotSaved);
        }
    case FailedStep::libraryRead:
        switch (kind) {
        case Kind::noPermission:
            return QString::fromUtf8(ModelText::readNoPermission);
        case Kind::deviceGone:
            return QString::fromUtf8(ModelText::readDiskError);
        default:
            return QString::fromUtf8(ModelText::readFailed);
        }
    }
    return QString::fromUtf8(CoreText::unknownError);
}

} // namespace

QString failureSentence(std::exception_ptr error, FailedStep step) {
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const ParloError& parlo) {
        return parlo.message();
    } catch (const PlatformError& platform) {
        qWarning().noquote() << "Mello Parlo:" << QString::fromUtf8(platform.what());
        return sentence(kindOf(platform.code()), step);
    } catch (const std::system_error& system) {
        qWarning().noquote() << "Mello Parlo:" << QString::fromUtf8(system.what());
        return sentence(kindOf(system.code()), step);
    } catch (const std::exception& other) {
        qWarning().noquote() << "Mello Parlo:" << QString::fromUtf8(other.what());
    } catch (...) {
    }
    return sentence(Kind::unknown, step);
}

QString trackWriteWarning(std::error_code error) {
    switch (kindOf(error)) {
    case Kind::diskFull:
        return QString::fromUtf8(ModelText::tracksDiskFull);
    case Kind::noPermission:
        return QString::fromUtf8(ModelText::tracksNoPermission);
    case Kind::deviceGone:
        return QString::fromUtf8(ModelText::tracksDiskGone);
    default:
        return QString::fromUtf8(ModelText::tracksFailed);
    }
}

QString trackWriteNote(std::error_code error) {
    if (kindOf(error) == Kind::diskFull)
        return QString::fromUtf8(ModelText::partLostDiskFull);
    return QString::fromUtf8(ModelText::partLostDiskError);
}

} // namespace parlo
