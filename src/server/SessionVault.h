#pragma once

#include <QString>
#include <qcoro/qcorotask.h>

#include <optional>

namespace parlo {

// The remembered session token in the desktop's secret store: service "com.fernwick.parlo.session",
// account "personal". Only the token is ever stored, never the access key.
namespace SessionVault {

// The stored token; nothing when there is none, it is not UTF-8, or the store cannot be reached.
QCoro::Task<std::optional<QString>> load();

// Deletes the stored item (a failure there is ignored) and, when `token` has a value, adds it anew.
// Throws ParloError "Не удалось сохранить сессию в Связке ключей." when the add fails.
QCoro::Task<> save(std::optional<QString> token);

} // namespace SessionVault

} // namespace parlo
