#include "capture/CapturePermissions.h"

#include "capture/CaptureTexts.h"
#include "core/ParloError.h"

#include <QProcess>
#include <QSettings>
#include <QString>
#include <QStringList>

namespace parlo::CapturePermissions {

namespace {

// Until the application installs the sound server's backend there is nothing to record from.
class NoBackend final : public PermissionBackend {
public:
    bool microphoneAuthorized() override { return false; }
    bool systemAudioPreflight() override { return false; }
    QCoro::Task<> verifySystemAudio() override {
        throw ParloError(CaptureText::noSystemAudio);
        co_return;
    }
};

// Process-wide and main-thread only, like everything the model touches.
struct State {
    std::shared_ptr<PermissionBackend> backend;
    std::optional<bool> verified;
};

State& state() {
    static State s;
    if (!s.backend)
        s.backend = std::make_shared<NoBackend>();
    return s;
}

QSettings settings() {
    return QSettings(QStringLiteral("fernwick"), QStringLiteral("parlo"));
}

const QString requestedKey = QStringLiteral("requestedSystemAudioAccess");

} // namespace

bool microphoneAuthorized() {
    return state().backend->microphoneAuthorized();
}

bool systemAudioPreflight() {
    return state().backend->systemAudioPreflight();
}

bool systemAudioPermission() {
    auto& s = state();
    if (s.verified)
        return *s.verified;
    return s.backend->systemAudioPreflight();
}

std::optional<bool> verifiedScreenAccess() {
    return state().verified;
}

QCoro::Task<bool> request() {
    settings().setValue(requestedKey, true);
    state().verified.reset();
    // Nothing on Linux can prompt for these: asking is checking again. Both are asked even when the
    // microphone is missing, as the user expects the whole state to be fresh.
    auto backend = state().backend;
    const bool microphone = backend->microphoneAuthorized();
    const bool system = backend->systemAudioPreflight();
    co_return microphone&& system;
}

QCoro::Task<> verifyScreenAccess() {
    // Keep the backend alive across the suspension even if a test swaps it meanwhile.
    auto backend = state().backend;
    try {
        co_await backend->verifySystemAudio();
    } catch (...) {
        state().verified = false;
        throw;
    }
    state().verified = true;
}

bool requestedSystemAudioAccess() {
    return settings().value(requestedKey, false).toBool();
}

bool openSoundSettings() {
    // The dedicated mixer first (it works under every desktop), then the desktops' own panels.
    const QList<QStringList> candidates{
        {QStringLiteral("pavucontrol")},
        {QStringLiteral("gnome-control-center"), QStringLiteral("sound")},
        {QStringLiteral("systemsettings"), QStringLiteral("kcm_pulseaudio")},
        {QStringLiteral("xfce4-mixer")},
    };
    for (const auto& command : candidates) {
        if (QProcess::startDetached(command.first(), command.mid(1)))
            return true;
    }
    return false;
}

void setBackend(std::shared_ptr<PermissionBackend> backend) {
    auto& s = state();
    s.backend = backend ? std::move(backend) : std::make_shared<NoBackend>();
    s.verified.reset();
}

} // namespace parlo::CapturePermissions
