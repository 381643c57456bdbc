#include "server/ServerClient.h"

#include "core/BoundedText.h"
#include "core/Json.h"
#include "core/ParloError.h"
#include "server/MultipartBody.h"
#include "server/SessionVault.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QPointer>
#include <QStringDecoder>
#include <QTemporaryFile>
#include <QTimer>
#include <qcoro/qcoronetworkreply.h>
#include <qcoro/qcorosignal.h>

#include <memory>
#include <system_error>

Q_LOGGING_CATEGORY(lcService, "parlo.service")

namespace parlo {

namespace {

namespace fs = std::filesystem;

const RequestBody kNoBody;

// Redirects followed within one exchange; more ends it with the last redirect answer.
constexpr int kMaxRedirects = 10;
// What Qt may hold of an answer beyond what the client has taken: it stops reading the socket there.
constexpr qint64 kReadBuffer = 1024 * 1024;

// The network session must never keep cookies of its own: the session cookie goes only where the
// client writes it.
class NoCookieJar final : public QNetworkCookieJar {
    Q_OBJECT
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl&) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie>&, const QUrl&) override { return false; }
};

// Replies are deleted later: QCoro resumes the awaiting coroutine from inside `finished`, where a
// plain delete would pull the object from under its own signal.
struct DeleteLater {
    void operator()(QObject* object) const { object->deleteLater(); }
};

// Why an exchange was stopped before its end. Stops are decided inside the reply's signals and carried
// out later (a queued abort): aborting inside a reply's own signal finishes it on the spot, and the
// coroutine resumed there may destroy the client under the abort.
enum class Stop {
    None,
    Refused,   // a download's answer is not a 200: it stops at its headers, nothing reaches the disk
    Truncated, // a failure's body beyond ServerLimits::small: what was read stands
    TooLarge,  // a success beyond its cap
    Dripping,  // the drip guard
    Expired,   // the total time-out
    Cancelled, // cancelAll()
    SinkFailed,
};

// What one exchange learned besides the reply itself.
struct ExchangeState {
    Stop stop = Stop::None;
    QByteArray body;
    qint64 received = 0;
    std::optional<QString> sinkError;
    // The drip guard: bytes moved in the current window, and whether a phase (sending the body,
    // receiving the answer) began in it; a window is judged only when one phase covered it whole.
    bool sending = false;
    bool receiving = false;
    bool phaseBegan = false;
    qint64 windowBytes = 0;
    qint64 sent = 0;
};

// A failure's body is read only as far as a "detail" can be; a success's as far as its operation's cap.
qint64 capFor(int status, qint64 limit, const ServerLimits& limits) {
    return status >= 200 && status <= 299 ? limit : std::min(limit, limits.small);
}

// A success larger than its cap: the text for the user, the size for the log.
class OversizedAnswer : public ParloError {
public:
    OversizedAnswer() : ParloError(ServerText::malformedAnswer) {}
};

std::string_view view(const QByteArray& bytes) {
    return std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// The answer's "detail" when its body is a JSON object with a string there, cut to a notice's length.
std::optional<QString> detailOf(const QByteArray& body) {
    std::optional<std::string> detail;
    try {
        readJsonObject(view(body), [&](JsonReader& in, std::string_view key) {
            if (key == "detail" && in.peek() == '"')
                detail = in.readString();
            else
                in.skipValue();
        });
    } catch (const JsonError&) {
        return std::nullopt;
    }
    if (!detail)
        return std::nullopt;
    return QString::fromStdString(boundedText(std::move(*detail), TextLimit::message));
}

PlatformError platformError(const std::error_code& code) {
    return PlatformError(QString::fromLocal8Bit(code.message()));
}

// Creates every missing folder up to `folder` with mode 0700.
void createFolders(const fs::path& folder) {
    std::error_code code;
    if (folder.empty() || fs::is_directory(folder, code))
        return;
    createFolders(folder.parent_path());
    if (!fs::create_directory(folder, code) && code)
        throw platformError(code);
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, code);
    if (code)
        throw platformError(code);
}

// Removes the temporary upload body on every way out of the upload.
class BodyFileGuard {
public:
    explicit BodyFileGuard(fs::path path) : path_(std::move(path)) {}
    ~BodyFileGuard() {
        std::error_code ignored;
        fs::remove(path_, ignored);
    }
    BodyFileGuard(const BodyFileGuard&) = delete;
    BodyFileGuard& operator=(const BodyFileGuard&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

QString pathText(const fs::path& path) {
    return QString::fromStdString(path.string());
}

} // namespace

ServerClientOptions ServerClientOptions::fromEnvironment() {
    ServerClientOptions options;
    options.base = serviceBaseUrl();
    options.caCertificates = serviceCaCertificates();
    return options;
}

bool isSessionToken(const QString& value) {
    if (value.isEmpty() || value.size() > 4096)
        return false;
    for (QChar c : value) {
        const char16_t u = c.unicode();
        if (u < 0x21 || u > 0x7E || u == '"' || u == ',' || u == ';' || u == '\\')
            return false;
    }
    return true;
}

std::optional<QString> sessionCookie(const QList<QPair<QByteArray, QByteArray>>& headers) {
    for (const auto& [name, value] : headers) {
        if (name.compare("set-cookie", Qt::CaseInsensitive) != 0)
            continue;
        // Several fields may also arrive folded into one, separated by line feeds.
        for (const QNetworkCookie& cookie : QNetworkCookie::parseCookies(value)) {
            if (cookie.name() != "__Host-parlo")
                continue;
            const QString token = QString::fromUtf8(cookie.value());
            if (!isSessionToken(token))
                return std::nullopt;
            return token;
        }
    }
    return std::nullopt;
}

std::optional<QString> accessKeyFromText(const QString& text) {
    const QString label = QStringLiteral("Пароль: ");
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(label))
            return line.mid(label.size()).trimmed();
    }
    return std::nullopt;
}

std::optional<QString> accessKeyFromFile(const QByteArray& bytes) {
    if (bytes.size() >= 8192)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return accessKeyFromText(text);
}

ServerClient::ServerClient(bool remember, QObject* parent)
    : ServerClient(remember, ServerClientOptions::fromEnvironment(), parent) {}

ServerClient::ServerClient(bool remember, ServerClientOptions options, QObject* parent)
    : QObject(parent)
    , remember_(remember)
    , options_(std::move(options))
    , vault_(options_.secretStore)
    , tls_(QSslConfiguration::defaultConfiguration())
    , redirects_(options_.base)
    , secure_(options_.base.isValid() && options_.base.scheme() == QStringLiteral("https") &&
              !options_.base.host().isEmpty())
    , network_(new QNetworkAccessManager(this)) {
    if (!options_.caCertificates.isEmpty())
        tls_.addCaCertificates(options_.caCertificates);
    network_->setCookieJar(new NoCookieJar(network_));
    network_->setCache(nullptr);
    // Redirects are followed by send() itself, so that a refused one is never aborted mid-signal and
    // keeps its answer.
    network_->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    network_->setTransferTimeout(static_cast<int>(options_.timeouts.session.count()));
    if (!remember_)
        restore_ = Restore::Done;
    if (!secure_)
        qCWarning(lcService) << "the service's base URL is not https, nothing will be sent:" << options_.base;
}

ServerClient::~ServerClient() {
    // Requests still under way end here, as cancelled: their coroutines resume and unwind (their
    // owners hold themselves weakly) instead of waiting forever on replies deleted with the manager.
    Q_EMIT cancelRequested();
    for (QNetworkReply* reply : network_->findChildren<QNetworkReply*>())
        reply->abort();
}

fs::path ServerClient::scratchFolder() const {
    if (options_.scratchFolder.empty())
        return QDir::tempPath().toStdString();
    createFolders(options_.scratchFolder);
    return options_.scratchFolder;
}

bool ServerClient::isSecure() const {
    return secure_;
}

QCoro::Task<> ServerClient::restoreSession() {
    if (restore_ == Restore::Done)
        co_return;
    if (restore_ == Restore::Running) {
        co_await qCoro(this, &ServerClient::sessionRestored);
        co_return;
    }
    restore_ = Restore::Running;
    QPointer<ServerClient> self(this);
    std::optional<QString> stored = co_await vault_.load();
    // The client went away while the secret store answered: every operation waiting here would go
    // on with a dangling client, so they all end with this failure instead.
    if (!self)
        throw PlatformError(ServerText::clientClosed);
    restore_ = Restore::Done;
    // A stored value that is no token (an edited item) would go into a header as it is.
    if (stored && isSessionToken(*stored) && !token_)
        setToken(std::move(stored));
    Q_EMIT sessionRestored();
}

QNetworkRequest ServerClient::request(const QString& path) const {
    QUrl url = options_.base.resolved(QUrl(path));
    QNetworkRequest request(url);
    request.setRawHeader("X-Parlo-Action", "1");
    request.setRawHeader("Origin", originOf(options_.base).toUtf8());
    if (token_)
        request.setRawHeader("Cookie", "__Host-parlo=" + token_->toUtf8());
    request.setTransferTimeout(static_cast<int>(options_.timeouts.request.count()));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setSslConfiguration(tls_);
    return request;
}

QCoro::Task<HttpAnswer> ServerClient::send(QNetworkRequest request, QByteArray verb, qint64 limit,
                                           const RequestBody& body, QIODevice* sink) {
    RequestBody current = body; // a redirect may turn the request into a GET without a body
    if (!secure_)
        throw ParloError(ServerText::insecureBase);
    const auto deadline = std::chrono::steady_clock::now() + options_.timeouts.total;
    for (int redirects = 0;; ++redirects) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        HttpAnswer answer = co_await exchange(request, verb, limit, current, sink,
                                              std::max(left, std::chrono::milliseconds(0)));
        const int status = answer.status;
        const bool redirect = answer.isHttp && (status == 301 || status == 302 || status == 303 ||
                                                status == 307 || status == 308);
        QByteArray location;
        for (const auto& [name, value] : answer.headers) {
            if (name.compare("location", Qt::CaseInsensitive) == 0)
                location = value;
        }
        if (!redirect || location.isEmpty())
            co_return answer;
        const QUrl target = request.url().resolved(QUrl::fromEncoded(location));
        if (!redirects_.allows(target) || redirects == kMaxRedirects) {
            // The exchange ends with the redirect answer itself; the answer check turns it into a
            // failure, with the service's "detail" when it gave one.
            qCWarning(lcService) << "redirect refused:" << status << target.toString(QUrl::RemoveUserInfo);
            co_return answer;
        }
        request.setUrl(target);
        // As browsers do: 307 and 308 repeat the request, the others ask for the target with a GET.
        if (status != 307 && status != 308 && verb != "GET") {
            verb = "GET";
            current = RequestBody();
            request.setHeader(QNetworkRequest::ContentTypeHeader, QVariant());
            request.setHeader(QNetworkRequest::ContentLengthHeader, QVariant());
        }
    }
}

QCoro::Task<HttpAnswer> ServerClient::exchange(const QNetworkRequest& request, const QByteArray& verb,
                                               qint64 limit, const RequestBody& body, QIODevice* sink,
                                               std::chrono::milliseconds total) {
    std::unique_ptr<QFile> file;
    if (!body.file.isEmpty()) {
        file = std::make_unique<QFile>(body.file);
        if (!file->open(QIODevice::ReadOnly))
            throw PlatformError(file->errorString());
    }
    QNetworkReply* raw = nullptr;
    if (verb == "GET")
        raw = network_->get(request);
    else if (file)
        raw = network_->post(request, file.get());
    else
        raw = network_->post(request, body.bytes);
    std::unique_ptr<QNetworkReply, DeleteLater> reply(raw);
    if (file)
        file.release()->setParent(raw); // the body must live as long as the reply reads from it
    raw->setReadBufferSize(kReadBuffer);

    auto state = std::make_shared<ExchangeState>();
    // Small bodies go in one write; only a streamed file has a sending phase worth watching.
    state->sending = !body.file.isEmpty();
    state->phaseBegan = true;
    const ServerLimits limits = options_.limits;
    auto stop = [raw, state](Stop why) {
        if (state->stop != Stop::None)
            return;
        state->stop = why;
        QMetaObject::invokeMethod(raw, &QNetworkReply::abort, Qt::QueuedConnection);
    };
    auto status = [raw] { return raw->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(); };
    // Takes what has arrived; the status decides where it goes and how much of it may come.
    auto consume = [raw, state, sink, limit, limits, stop, status] {
        if (state->stop != Stop::None)
            return;
        const int code = status();
        if (sink && code != 200) {
            stop(Stop::Refused);
            return;
        }
        const QByteArray chunk = raw->readAll();
        state->received += chunk.size();
        state->windowBytes += chunk.size();
        const qint64 cap = capFor(code, limit, limits);
        if (state->received > cap) {
            const bool success = code >= 200 && code <= 299;
            if (!success)
                state->body += chunk.left(cap - (state->received - chunk.size()));
            stop(success ? Stop::TooLarge : Stop::Truncated);
            return;
        }
        if (!sink) {
            state->body += chunk;
        } else if (sink->write(chunk) != chunk.size()) {
            state->sinkError = sink->errorString();
            stop(Stop::SinkFailed);
        }
    };
    connect(raw, &QNetworkReply::metaDataChanged, raw, [raw, state, sink, limit, limits, stop, status] {
        state->sending = false;
        state->receiving = true;
        state->phaseBegan = true;
        const int code = status();
        if (sink && code != 200) {
            stop(Stop::Refused);
            return;
        }
        const QVariant length = raw->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > capFor(code, limit, limits))
            stop(code >= 200 && code <= 299 ? Stop::TooLarge : Stop::Truncated);
    });
    connect(raw, &QIODevice::readyRead, raw, consume);
    connect(raw, &QNetworkReply::uploadProgress, raw, [state](qint64 sent, qint64 size) {
        state->windowBytes += sent - state->sent;
        state->sent = sent;
        if (state->sending && size > 0 && sent >= size) {
            state->sending = false;
            state->phaseBegan = true;
        }
    });
    auto* drip = new QTimer(raw);
    connect(drip, &QTimer::timeout, raw, [state, stop, minimum = limits.dripMinimum] {
        if ((state->sending || state->receiving) && !state->phaseBegan && state->windowBytes < minimum)
            stop(Stop::Dripping);
        state->phaseBegan = false;
        state->windowBytes = 0;
    });
    drip->start(options_.timeouts.dripWindow);
    connect(this, &ServerClient::cancelRequested, raw, [stop] { stop(Stop::Cancelled); });
    QTimer::singleShot(total, raw, [stop] { stop(Stop::Expired); });

    co_await raw;
    consume(); // what arrived with the end

    HttpAnswer answer;
    const QVariant code = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    answer.isHttp = code.isValid();
    answer.status = code.toInt();
    for (const auto& pair : raw->rawHeaderPairs())
        answer.headers.append(pair);
    const QString where = request.url().path();
    switch (state->stop) {
    case Stop::None:
        break;
    case Stop::Refused:
        co_return answer;
    case Stop::Truncated:
        answer.body = std::move(state->body);
        co_return answer;
    case Stop::TooLarge:
        qCWarning(lcService) << where << "answer larger than" << limit << "bytes, status" << answer.status;
        throw OversizedAnswer();
    case Stop::Dripping:
        qCWarning(lcService) << where << "answer trickled: under" << limits.dripMinimum << "bytes in"
                             << options_.timeouts.dripWindow.count() << "ms";
        throw PlatformError(ServerText::timedOut);
    case Stop::Expired:
        qCWarning(lcService) << where << "exchange took longer than" << options_.timeouts.total.count()
                             << "ms";
        throw PlatformError(ServerText::timedOut);
    case Stop::Cancelled:
        throw PlatformError(QString::fromUtf8(ServerText::cancelled));
    case Stop::SinkFailed:
        qCWarning(lcService) << where << "download not written:" << state->sinkError.value_or(QString());
        throw PlatformError(QString::fromUtf8(ServerText::diskWrite));
    }
    const QNetworkReply::NetworkError error = raw->error();
    // Network-layer and proxy errors (codes below 200) mean no complete answer arrived. A transfer
    // time-out reports itself as a cancellation; the client cancels only for the reasons above.
    if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError) {
        qCWarning(lcService) << where << "no byte moved for" << request.transferTimeout() << "ms";
        throw PlatformError(ServerText::timedOut);
    }
    if (error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied) {
        qCWarning(lcService) << where << error << raw->errorString();
        throw PlatformError(error == QNetworkReply::SslHandshakeFailedError ? ServerText::tls
                                                                            : ServerText::network);
    }
    answer.body = std::move(state->body);
    co_return answer;
}

void ServerClient::setToken(std::optional<QString> token) {
    const bool changed = token_.has_value() != token.has_value() || token_ != token;
    token_ = std::move(token);
    if (changed)
        Q_EMIT tokenChanged();
}

QCoro::Task<> ServerClient::forgetSession() {
    setToken(std::nullopt);
    if (remember_) {
        try {
            co_await vault_.save(std::nullopt);
        } catch (...) {
            // Deleting the stored item is best effort: the session is gone from memory either way.
        }
    }
}

QCoro::Task<QByteArray> ServerClient::checked(HttpAnswer answer) {
    if (!answer.isHttp)
        throw ParloError(ServerText::noAnswer);
    if (answer.status >= 200 && answer.status <= 299)
        co_return answer.body;
    if (answer.status == 401)
        co_await forgetSession();
    if (auto detail = detailOf(answer.body))
        throw ParloError(*detail);
    throw ParloError(answer.status == 401 ? ServerText::signIn : ServerText::unreachable);
}

void ServerClient::validateID(const QString& id) {
    if (!isMeetingID(id.toStdString()))
        throw ParloError(ServerText::badID);
}

QCoro::Task<bool> ServerClient::checkSession() {
    co_await restoreSession();
    // Without https the stored session is neither sent nor dropped: the address is wrong, not the session.
    if (!token_ || !secure_)
        co_return false;
    HttpAnswer answer;
    try {
        answer =
            co_await send(request(QStringLiteral("/api/session")), "GET", options_.limits.small, kNoBody);
    } catch (const std::exception&) {
        co_return token_.has_value();
    }
    QByteArray body;
    try {
        body = co_await checked(std::move(answer));
    } catch (const std::exception&) {
        co_return token_.has_value();
    }
    bool authenticated = false;
    try {
        readJsonObject(view(body), [&](JsonReader& in, std::string_view key) {
            if (key == "authenticated" && (in.peek() == 't' || in.peek() == 'f'))
                authenticated = in.readBool();
            else
                in.skipValue();
        });
    } catch (const JsonError& error) {
        qCWarning(lcService) << "session answer:" << error.what();
        co_return token_.has_value();
    }
    if (authenticated)
        co_return true;
    co_await forgetSession();
    co_return false;
}

QCoro::Task<> ServerClient::login(QString password) {
    co_await restoreSession();
    QNetworkRequest login = request(QStringLiteral("/api/login"));
    login.setRawHeader("Content-Type", "application/json");
    std::string body;
    JsonWriter json(body);
    json.beginObject();
    json.key("password");
    json.string(password.toStdString());
    json.endObject();
    const RequestBody credentials{QByteArray::fromStdString(body), {}};
    HttpAnswer answer = co_await send(login, "POST", options_.limits.small, credentials);
    const auto headers = answer.headers;
    co_await checked(std::move(answer));
    std::optional<QString> cookie = sessionCookie(headers);
    if (!cookie)
        throw ParloError(ServerText::noSession);
    setToken(cookie);
    if (remember_)
        co_await vault_.save(token_);
}

QCoro::Task<> ServerClient::logout() {
    co_await restoreSession();
    if (token_) {
        try {
            co_await send(request(QStringLiteral("/api/logout")), "POST", options_.limits.small, kNoBody);
        } catch (const std::exception&) {
            // Signing out locally does not depend on the service hearing about it.
        }
    }
    co_await forgetSession();
}

QCoro::Task<QString> ServerClient::upload(fs::path file, QString title, Uuid clientID) {
    co_await restoreSession();
    if (!secure_)
        throw ParloError(ServerText::insecureBase);
    std::error_code code;
    const auto size = fs::file_size(file, code);
    if (code)
        throw platformError(code);
    if (size < static_cast<std::uintmax_t>(kMinimumUploadSize) ||
        size > static_cast<std::uintmax_t>(kMaximumUploadSize))
        throw ParloError(ServerText::tooLarge);

    const QByteArray boundary = makeMultipartBoundary().toLatin1();
    const fs::path scratch = scratchFolder();
    BodyFileGuard bodyFile(scratch / (Uuid::random().toString() + ".multipart"));
    qint64 bodySize = 0;
    {
        QFile out(pathText(bodyFile.path()));
        if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                      QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            throw PlatformError(out.errorString());
        QFile source(pathText(file));
        if (!source.open(QIODevice::ReadOnly))
            throw PlatformError(source.errorString());
        const MultipartFields fields{title, QString::fromStdString(clientID.toString()),
                                     uploadFileName(file)};
        writeMultipartBody(out, boundary, fields, source);
        source.close();
        if (!out.flush())
            throw PlatformError(out.errorString());
        bodySize = out.size();
        out.close();
        if (out.error() != QFileDevice::NoError)
            throw PlatformError(out.errorString());
    }

    QNetworkRequest post = request(QStringLiteral("/api/meetings"));
    post.setRawHeader("Content-Type", "multipart/form-data; boundary=" + boundary);
    post.setHeader(QNetworkRequest::ContentLengthHeader, bodySize);
    const RequestBody multipart{{}, pathText(bodyFile.path())};
    HttpAnswer answer = co_await send(post, "POST", options_.limits.small, multipart);
    const QByteArray bytes = co_await checked(std::move(answer));

    std::optional<std::string> id;
    bool isObject = false;
    try {
        isObject = readJsonObject(view(bytes), [&](JsonReader& in, std::string_view key) {
            if (key == "id" && in.peek() == '"')
                id = in.readString();
            else
                in.skipValue();
        });
    } catch (const JsonError& error) {
        qCWarning(lcService) << "upload answer:" << error.what();
        throw ParloError(ServerText::malformedAnswer);
    }
    if (!isObject || !id)
        throw ParloError(ServerText::noMeetingID);
    if (!isMeetingID(*id)) {
        qCWarning(lcService) << "upload answer: not a meeting id:"
                             << QString::fromStdString(boundedText(*id, 80));
        throw ParloError(ServerText::badID);
    }
    co_return QString::fromStdString(*id);
}

QCoro::Task<std::vector<ServerMeeting>> ServerClient::list() {
    co_await restoreSession();
    HttpAnswer answer =
        co_await send(request(QStringLiteral("/api/meetings")), "GET", options_.limits.document, kNoBody);
    const QByteArray body = co_await checked(std::move(answer));
    std::vector<ServerMeeting> meetings;
    try {
        meetings = decodeServerMeetingList(view(body));
    } catch (const JsonError& error) {
        qCWarning(lcService) << "meeting list:" << error.what();
        throw ParloError(ServerText::malformedAnswer);
    }
    // One meeting with an id that must not go into a path is left out; the others are fine.
    std::erase_if(meetings,
                  [](const ServerMeeting& meeting) {
                      if (isMeetingID(meeting.id))
                          return false;
                      qCWarning(lcService)
                          << "meeting list: skipped a meeting whose id is not a meeting id:"
                          << QString::fromStdString(boundedText(meeting.id, 80)).toUtf8().toPercentEncoding();
                      return true;
                  });
    co_return meetings;
}

QCoro::Task<ServerMeeting> ServerClient::detail(QString id) {
    co_await restoreSession();
    validateID(id);
    HttpAnswer answer = co_await send(request(QStringLiteral("/api/meetings/") + id), "GET",
                                      options_.limits.document, kNoBody);
    const QByteArray body = co_await checked(std::move(answer));
    ServerMeeting meeting;
    try {
        meeting = decodeServerMeeting(view(body));
    } catch (const JsonError& error) {
        qCWarning(lcService) << "meeting" << id << error.what();
        throw ParloError(ServerText::malformedAnswer);
    }
    if (!isMeetingID(meeting.id)) {
        qCWarning(lcService) << "meeting" << id << "answered with an id that is not a meeting id";
        throw ParloError(ServerText::malformedAnswer);
    }
    co_return meeting;
}

QCoro::Task<QByteArray> ServerClient::exportMeeting(QString id, QString format) {
    co_await restoreSession();
    validateID(id);
    static const QStringList formats = {QStringLiteral("md"), QStringLiteral("txt"), QStringLiteral("srt"),
                                        QStringLiteral("json")};
    if (!formats.contains(format))
        throw ParloError(ServerText::unknownFormat);
    HttpAnswer answer =
        co_await send(request(QStringLiteral("/api/meetings/") + id + QStringLiteral("/export/") + format),
                      "GET", options_.limits.document, kNoBody);
    co_return co_await checked(std::move(answer));
}

QCoro::Task<> ServerClient::audio(QString id, fs::path destination) {
    co_await restoreSession();
    validateID(id);
    if (!secure_)
        throw ParloError(ServerText::insecureBase);
    QTemporaryFile download(pathText(scratchFolder()) + QStringLiteral("/.audio-XXXXXX.download"));
    if (!download.open())
        throw PlatformError(download.errorString());
    HttpAnswer answer;
    try {
        answer = co_await send(request(QStringLiteral("/api/meetings/") + id + QStringLiteral("/audio")),
                               "GET", options_.limits.audio, kNoBody, &download);
    } catch (const OversizedAnswer&) {
        throw ParloError(ServerText::audioFailed);
    }
    if (!answer.isHttp || answer.status != 200)
        throw ParloError(ServerText::audioFailed);
    if (!download.flush())
        throw PlatformError(download.errorString());

    createFolders(destination.parent_path());
    std::error_code code;
    fs::remove(destination, code);
    if (code)
        throw platformError(code);
    if (!download.rename(pathText(destination)))
        throw PlatformError(download.errorString());
    download.setAutoRemove(false);
    fs::permissions(destination, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace,
                    code);
    if (code)
        throw platformError(code);
}

} // namespace parlo

#include "ServerClient.moc"
