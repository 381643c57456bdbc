#pragma once

#include "core/Uuid.h"
#include "library/MeetingResult.h"
#include "server/ServiceEndpoint.h"
#include "server/SessionVault.h"

#include <QByteArray>
#include <QList>
#include <QNetworkRequest>
#include <QObject>
#include <QPair>
#include <QSslConfiguration>
#include <QString>
#include <QUrl>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

class QIODevice;
class QNetworkAccessManager;

namespace parlo {

// How long the client waits. `request` and `session` limit the silence within one exchange (no byte
// sent or received): `request` is set on every request the client builds, `session` is the default
// of the network session for anything else. `total` limits a whole exchange, upload included.
struct ServerTimeouts {
    std::chrono::milliseconds request{60'000};
    std::chrono::milliseconds session{90'000};
    std::chrono::milliseconds total{600'000};
};

struct ServerClientOptions {
    QUrl base;                             // the service; see serviceBaseUrl()
    QList<QSslCertificate> caCertificates; // trusted in addition to the system's
    ServerTimeouts timeouts;
    // Where a remembered session is kept; none: nothing can be remembered.
    std::shared_ptr<SecretStore> secretStore;
    // Where upload bodies and downloads are assembled (the data folder, so that a finished download
    // moves by a rename); created 0700 when missing. Empty: the system's temporary folder.
    std::filesystem::path scratchFolder;

    // The service named by the environment or the build, MELLO_PARLO_CA_FILE, default time-outs.
    static ServerClientOptions fromEnvironment();
};

// One finished exchange as the client saw it.
struct HttpAnswer {
    bool isHttp = false; // false: no HTTP status came back
    int status = 0;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // as received, repeated fields kept apart
};

// The value of the first "__Host-parlo" cookie set by the Set-Cookie fields among `headers`.
std::optional<QString> sessionCookie(const QList<QPair<QByteArray, QByteArray>>& headers);

// The key from a personal access file's text: the rest of the first line that begins with
// "Пароль: ", trimmed; lines are split at line feeds and empty ones skipped. Nothing when no line
// begins so.
std::optional<QString> accessKeyFromText(const QString& text);
// The same for the bytes of a personal access file chosen by the user: nothing when the file has 8192
// bytes or more or is not UTF-8.
std::optional<QString> accessKeyFromFile(const QByteArray& bytes);

// The one HTTPS client of the application. Every operation runs on the main thread, suspends on the
// network and may overlap with others; all share one network session that keeps no cookies and no
// cache. The session cookie travels only in the "Cookie" header the client writes itself, and only
// to the service host (see SameOriginRedirect).
//
// Failures: ParloError with the Russian text for everything the service answered (a "detail" string
// of the answer wins), PlatformError with the transport's description for network failures and
// time-outs, JsonError for an answer that cannot be decoded.
class ServerClient : public QObject {
    Q_OBJECT

public:
    // `remember`: keep the session in the secret store (normal runs) or only in memory (the preview,
    // the self-test). A remembered session is read back by restoreSession(), which every operation
    // awaits first.
    explicit ServerClient(bool remember, QObject* parent = nullptr);
    ServerClient(bool remember, ServerClientOptions options, QObject* parent = nullptr);
    ~ServerClient() override;

    bool remember() const { return remember_; }
    const QUrl& base() const { return options_.base; }
    // The session cookie's value; present means signed in.
    const std::optional<QString>& token() const { return token_; }
    bool hasToken() const { return token_.has_value(); }

    // Reads the remembered session from the secret store once (no-op when `remember` is false or it
    // has been read). Never throws: an unreachable store means signed out.
    QCoro::Task<> restoreSession();

    // "GET /api/session". True when the service confirms the session; false without a token or when
    // the service says otherwise (the token and the stored item are then dropped). A transport
    // failure or an answer other than 2xx/401 keeps the current state (offline start stays signed in).
    QCoro::Task<bool> checkSession();
    // "POST /api/login" with the access key; keeps the "__Host-parlo" cookie as the token and, when
    // remembering, stores it. Throws the answer's message, "Сервер не выдал личную сессию." or
    // "Не удалось сохранить сессию в Связке ключей." (the token is then held for this run).
    QCoro::Task<> login(QString password);
    // "POST /api/logout" when signed in (its outcome ignored); then signed out locally. Never throws.
    QCoro::Task<> logout();

    // Sends `file` as a new meeting; returns the service's meeting id (32 hexadecimal characters).
    // The same `clientID` on a retry makes the service answer with the meeting it already has.
    QCoro::Task<QString> upload(std::filesystem::path file, QString title, Uuid clientID);

    QCoro::Task<std::vector<ServerMeeting>> list();
    QCoro::Task<ServerMeeting> detail(QString id);
    // The meeting as a document in `format`: "md", "txt", "srt" or "json".
    QCoro::Task<QByteArray> exportMeeting(QString id, QString format);
    // Downloads the meeting's audio to `destination` (0600, parent folders 0700), replacing a file
    // there. Any answer but 200 fails with "Не удалось загрузить звук." and never signs out.
    QCoro::Task<> audio(QString id, std::filesystem::path destination);

    // The common request: `path` (absolute, such as "/api/session") on the base URL, the headers
    // "X-Parlo-Action", "Origin" and, when signed in, "Cookie", in that order.
    QNetworkRequest request(const QString& path) const;
    // The common answer check: the body of a 2xx answer; otherwise the failure above. A 401 signs
    // out first (token dropped, stored item deleted when remembering).
    QCoro::Task<QByteArray> checked(HttpAnswer answer);
    // Throws ParloError "Некорректный номер записи." unless `id` is 32 hexadecimal characters.
    static void validateID(const QString& id);

    // Aborts every exchange in flight; each fails with a PlatformError (used when the application quits).
    void cancelAll() { Q_EMIT cancelRequested(); }

Q_SIGNALS:
    void cancelRequested();
    // The token appeared or went away (login, logout, a 401, a refused session check).
    void tokenChanged();
    void sessionRestored();

private:
    enum class Restore { Pending, Running, Done };

    // The scratch folder of the options, created when missing. Throws PlatformError.
    std::filesystem::path scratchFolder() const;

    // One exchange. `upload` (owned from here on) is streamed as the request body instead of
    // `body`; with `sink` the answer's body is written there as it arrives instead of being kept.
    // Throws PlatformError for transport failures and time-outs.
    QCoro::Task<HttpAnswer> send(QNetworkRequest request, QByteArray verb, QByteArray body = {},
                                 QIODevice* upload = nullptr, QIODevice* sink = nullptr);
    void setToken(std::optional<QString> token);
    QCoro::Task<> forgetSession();

    bool remember_;
    ServerClientOptions options_;
    SessionVault vault_;
    QSslConfiguration tls_;
    SameOriginRedirect redirects_;
    QNetworkAccessManager* network_;
    std::optional<QString> token_;
    Restore restore_ = Restore::Pending;
};

} // namespace parlo
