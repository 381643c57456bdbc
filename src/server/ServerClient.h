#pragma once

#include "core/Uuid.h"
#include "library/MeetingResult.h"
#include "server/ServerTexts.h"
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
// `dripWindow` is the drip guard's window: while a request body is being sent or an answer is being
// received, every such window must move ServerLimits::dripMinimum bytes, so that a trickle of bytes
// (which never lets the silence time-outs fire) cannot hold an exchange for minutes.
struct ServerTimeouts {
    std::chrono::milliseconds request{60'000};
    std::chrono::milliseconds session{90'000};
    std::chrono::milliseconds total{600'000};
    std::chrono::milliseconds dripWindow{20'000};
};

// How many bytes of one answer the client reads, enforced as they arrive: past a cap the exchange is
// aborted, and a declared Content-Length past it stops the exchange before the body.
struct ServerLimits {
    // Session, login, logout and upload answers (a few dozen bytes), and the body of any answer that
    // is not a success (a "detail" or a proxy's error page; cut beyond this, never a failure of its own).
    qint64 small = 64 * 1024;
    // The list, a meeting's detail, an export. The largest real one is the detail of the longest
    // meeting the service accepts: 90 MiB of audio, 26 hours at 8 kbit/s. Its transcript takes
    // 2.2 KB of JSON a minute at the development fixture's 100 words a minute, 3.5 KB at a fast
    // 160: about 5.5 MB. A list of 20,000 meetings takes 6 to 12 MB.
    qint64 document = 16 * 1024 * 1024;
    // The meeting's audio for playback: 4.6 hours of 16 kHz 16-bit WAV, which holds the longest of
    // our captures the service accepts (90 MiB at 48 kbit/s: 4.4 hours).
    qint64 audio = 512 * 1024 * 1024;
    // The drip guard: bytes each window must move (about 800 bytes a second at the default window;
    // the slowest mobile data moves ten times as much).
    qint64 dripMinimum = 16 * 1024;
};

struct ServerClientOptions {
    QUrl base;                             // the service; see serviceBaseUrl()
    QList<QSslCertificate> caCertificates; // trusted in addition to the system's
    ServerTimeouts timeouts;
    ServerLimits limits;
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

// What a request sends: `bytes`, or the file at `file` streamed from disk (opened anew for every
// request of a redirected exchange).
struct RequestBody {
    QByteArray bytes;
    QString file;
};

// The value of the first "__Host-parlo" cookie set by the Set-Cookie fields among `headers`; nothing
// when there is none or its value is not a session token.
std::optional<QString> sessionCookie(const QList<QPair<QByteArray, QByteArray>>& headers);
// Whether `value` can be a session token: 1 to 4096 printable ASCII characters allowed in a cookie
// value (no space, quote, comma, semicolon or backslash), so it can go into a header as it is.
bool isSessionToken(const QString& value);

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
// of the answer wins, cut to TextLimit::message) and for an answer that cannot be decoded or is too
// large; PlatformError for network failures, TLS failures and time-outs, with the sentences of
// ServerText. The technical description of each goes to the log only.
//
// Only an https base URL is used: with any other, every operation fails with
// ServerText::insecureBase before a byte is sent, and checkSession() answers false.
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
    // The base URL is https with a host: the only kind the client talks to.
    bool isSecure() const;
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
    // "Не удалось сохранить сессию в хранилище паролей." (the token is then held for this run).
    QCoro::Task<> login(QString password);
    // "POST /api/logout" when signed in (its outcome ignored); then signed out locally. Never throws.
    QCoro::Task<> logout();

    // Sends `file` as a new meeting; returns the service's meeting id (32 hexadecimal characters).
    // The same `clientID` on a retry makes the service answer with the meeting it already has.
    QCoro::Task<QString> upload(std::filesystem::path file, QString title, Uuid clientID);

    // Meetings whose id is not a meeting identifier are left out (and logged); the others stay.
    QCoro::Task<std::vector<ServerMeeting>> list();
    // Fails with ServerText::malformedAnswer when the answer's own id is not a meeting identifier.
    QCoro::Task<ServerMeeting> detail(QString id);
    // The meeting as a document in `format`: "md", "txt", "srt" or "json".
    QCoro::Task<QByteArray> exportMeeting(QString id, QString format);
    // Downloads the meeting's audio to `destination` (0600, parent folders 0700), replacing a file
    // there. Any answer but 200, or one larger than ServerLimits::audio, fails with
    // "Не удалось загрузить звук." and never signs out; nothing of it reaches the disk but a
    // temporary file, removed on failure, and the folders are made only once the audio is whole.
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

    // One exchange, redirects included: the client follows a redirect itself, and only to the
    // service (SameOriginRedirect); a refused one ends the exchange with the redirect answer.
    // At most `limit` bytes of a success are read (ServerLimits::small of anything else). With
    // `sink`, the body of a 200 answer is written there as it arrives; any other status stops the
    // exchange at its headers. Throws PlatformError for transport failures and time-outs.
    // (`body` is taken by reference: GCC 12 destroys a braced temporary passed by value to a
    // coroutine twice. It lives to the end of the caller's co_await.)
    QCoro::Task<HttpAnswer> send(QNetworkRequest request, QByteArray verb, qint64 limit,
                                 const RequestBody& body, QIODevice* sink = nullptr);
    // One request and its answer, without following redirects, within `total`.
    QCoro::Task<HttpAnswer> exchange(const QNetworkRequest& request, const QByteArray& verb, qint64 limit,
                                     const RequestBody& body, QIODevice* sink,
                                     std::chrono::milliseconds total);
    void setToken(std::optional<QString> token);
    QCoro::Task<> forgetSession();

    bool remember_;
    ServerClientOptions options_;
    SessionVault vault_;
    QSslConfiguration tls_;
    SameOriginRedirect redirects_;
    bool secure_;
    QNetworkAccessManager* network_;
    std::optional<QString> token_;
    Restore restore_ = Restore::Pending;
};

} // namespace parlo
