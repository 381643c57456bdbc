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
            return QStringLiteral("Диск заполнен — освободите место, чтобы начать запись.");
        case Kind::noPermission:
            return QStringLiteral(
                "Нет прав на запись в папку данных Mello Parlo, поэтому запись не началась.");
        case Kind::deviceGone:
            return QStringLiteral("Диск с данными Mello Parlo недоступен, поэтому запись не началась.");
        case Kind::missing:
            return QStringLiteral("Папка данных Mello Parlo не найдена, поэтому запись не началась.");
        case Kind::other:
            return QStringLiteral("Запись не началась из-за ошибки системы.");
        case Kind::unknown:
            return QStringLiteral("Звуковой сервер не ответил, поэтому запись не началась.");
        }
        break;
    case FailedStep::recordingMix:
        switch (kind) {
        case Kind::diskFull:
            return QStringLiteral(
                "Диск заполнен, и запись не удалось свести в файл: исходные дорожки сохранены — "
                "освободите место и нажмите «Восстановить запись».");
        case Kind::noPermission:
            return QStringLiteral(
                "Нет прав на запись в папку разговора: исходные дорожки сохранены — исправьте "
                "права и нажмите «Восстановить запись».");
        case Kind::deviceGone:
            return QStringLiteral("Диск с записью недоступен: исходные дорожки сохранены — подключите его и "
                                  "нажмите «Восстановить запись».");
        case Kind::missing:
            return QStringLiteral("Папка разговора не найдена, поэтому запись не удалось свести в файл.");
        case Kind::other:
        case Kind::unknown:
            return QStringLiteral(
                "Запись не удалось свести в файл: исходные дорожки сохранены — можно нажать "
                "«Восстановить запись».");
        }
        break;
    case FailedStep::import:
        switch (kind) {
        case Kind::diskFull:
            return QStringLiteral("Диск заполнен, поэтому файл не добавлен.");
        case Kind::noPermission:
            return QStringLiteral(
                "Нет прав на чтение файла или на запись в папку данных, поэтому файл не добавлен.");
        case Kind::deviceGone:
            return QStringLiteral("Диск недоступен, поэтому файл не добавлен.");
        case Kind::missing:
            return QStringLiteral("Выбранный файл не найден.");
        case Kind::other:
        case Kind::unknown:
            return QStringLiteral("Не удалось добавить файл.");
        }
        break;
    case FailedStep::librarySave:
        switch (kind) {
        case Kind::noPermission:
            return QStringLiteral(
                "Не удалось сохранить библиотеку: нет прав на запись в папку данных Mello Parlo.");
        case Kind::deviceGone:
            return QStringLiteral("Не удалось сохранить библиотеку: диск с данными недоступен.");
        default:
            return QString::fromUtf8(ModelText::libraryNotSaved);
        }
    case FailedStep::libraryRead:
        switch (kind) {
        case Kind::noPermission:
            return QStringLiteral(
                "Нет прав на чтение библиотеки записей, и пока её не удастся прочитать, Mello "
                "Parlo ничего в ней не изменит.");
        case Kind::deviceGone:
            return QStringLiteral("Библиотека записей не читается из-за ошибки диска, и пока её не удастся "
                                  "прочитать, Mello Parlo ничего в ней не изменит.");
        default:
            return QStringLiteral(
                "Библиотеку записей не удалось прочитать, и пока это не получится, Mello Parlo "
                "ничего в ней не изменит.");
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
        return QStringLiteral(
            "Диск заполнен: звук разговора сейчас не сохраняется — освободите место, и запись "
            "продолжится сама.");
    case Kind::noPermission:
        return QStringLiteral("Нет прав на запись дорожек: звук разговора сейчас не сохраняется.");
    case Kind::deviceGone:
        return QStringLiteral("Диск с записью недоступен: звук разговора сейчас не сохраняется.");
    default:
        return QStringLiteral("Звук разговора сейчас не сохраняется из-за ошибки записи на диск.");
    }
}

QString trackWriteNote(std::error_code error) {
    if (kindOf(error) == Kind::diskFull)
        return QStringLiteral("Во время записи диск был заполнен, и часть разговора не сохранилась.");
    return QStringLiteral("Во время записи диск отказывал, и часть разговора не сохранилась.");
}

} // namespace parlo
