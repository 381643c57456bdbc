#include "server/ServerClient.h"

#include "core/ParloError.h"
#include "server/MultipartBody.h"
#include "server/SessionVault.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
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

namespace parlo {

namespace {

namespace fs = std::filesystem;

const char* const kNoAnswer = "Сервер не ответил.";
const char* const kSignIn = "Войдите в личный кабинет.";
const char* const kUnreachable = "Не удалось связаться с сервером. Запись остаётся на Mac.";
const char* const kBadID = "Некорректный номер записи.";
const char* const kNoSession = "Сервер не выдал личную сессию.";
const char* const kTooLarge = "Размер записи должен быть меньше 90 МБ.";
const char* const kNoMeetingID = "Сервер не вернул номер записи.";
const char* const kUnknownFormat = "Неизвестный формат.";
const char* const kAudioFailed = "Не удалось загрузить звук.";
const QString kTimedOut = QStringLiteral("Истекло время ожидания ответа сервера.");

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

// What one exchange learned besides the reply itself.
struct ExchangeState {
    bool redirectRefused = false;
    bool totalExpired = false;
    bool cancelled = false;
    std::optional<QString> sinkError;
};

std::optional<QString> detailOf(const QByteArray& body) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonValue detail = document.object().value(QStringLiteral("detail"));
    if (!detail.isString())
        return std::nullopt;
    return detail.toString();
}

bool isHex(QChar c) {
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
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

std::optional<QString> sessionCookie(const QList<QPair<QByteArray, QByteArray>>& headers) {
    for (const auto& [name, value] : headers) {
        if (name.compare("set-cookie", Qt::CaseInsensitive) != 0)
            continue;
        // Several fields may also arrive folded into one, separated by line feeds.
        for (const QNetworkCookie& cookie : QNetworkCookie::parseCookies(value)) {
            if (cookie.name() == "__Host-parlo")
                return QString::fromUtf8(cookie.value());
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
    , network_(new QNetworkAccessManager(this)) {
    if (!options_.caCertificates.isEmpty())
        tls_.addCaCertificates(options_.caCertificates);
    network_->setCookieJar(new NoCookieJar(network_));
    network_->setCache(nullptr);
    network_->setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy);
    network_->setTransferTimeout(static_cast<int>(options_.timeouts.session.count()));
    if (!remember_)
        restore_ = Restore::Done;
}

ServerClient::~ServerClient() = default;

fs::path ServerClient::scratchFolder() const {
    if (options_.scratchFolder.empty())
        return QDir::tempPath().toStdString();
    createFolders(options_.scratchFolder);
    return options_.scratchFolder;
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
        throw PlatformError(QStringLiteral("Клиент сервера закрыт."));
    restore_ = Restore::Done;
    if (stored && !token_)
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
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setSslConfiguration(tls_);
    return request;
}

QCoro::Task<HttpAnswer> ServerClient::send(QNetworkRequest request, QByteArray verb, QByteArray body,
                                           QIODevice* upload, QIODevice* sink) {
    QNetworkReply* raw = nullptr;
    if (verb == "GET")
        raw = network_->get(request);
    else if (upload)
        raw = network_->post(request, upload);
    else
        raw = network_->post(request, body);
    std::unique_ptr<QNetworkReply, DeleteLater> reply(raw);
    if (upload)
        upload->setParent(raw); // the body must live as long as the reply reads from it

    auto state = std::make_shared<ExchangeState>();
    const SameOriginRedirect rule = redirects_;
    // Every redirect is answered at once: an unanswered one would leave the reply waiting for ever.
    connect(raw, &QNetworkReply::redirected, raw, [raw, rule, state](const QUrl& target) {
        if (rule.allows(target)) {
            Q_EMIT raw->redirectAllowed();
        } else {
            state->redirectRefused = true;
            raw->abort();
        }
    });
    connect(this, &ServerClient::cancelRequested, raw, [raw, state] {
        state->cancelled = true;
        raw->abort();
    });
    QTimer::singleShot(options_.timeouts.total, raw, [raw, state] {
        state->totalExpired = true;
        raw->abort();
    });
    if (sink) {
        connect(raw, &QIODevice::readyRead, raw, [raw, sink, state] {
            const QByteArray chunk = raw->readAll();
            if (!state->sinkError && sink->write(chunk) != chunk.size()) {
                state->sinkError = sink->errorString();
                raw->abort();
            }
        });
    }

    co_await raw;

    HttpAnswer answer;
    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    for (const auto& pair : raw->rawHeaderPairs())
        answer.headers.append(pair);
    if (state->redirectRefused) {
        // The exchange ends with the redirect answer itself; the answer check turns it into a failure.
        answer.isHttp = status.isValid();
        answer.status = status.toInt();
        if (raw->isOpen())
            answer.body = raw->readAll();
        co_return answer;
    }
    if (state->cancelled)
        throw PlatformError(QStringLiteral("Обмен с сервером прерван."));
    if (state->sinkError)
        throw PlatformError(*state->sinkError);
    if (state->totalExpired)
        throw PlatformError(kTimedOut);
    const QNetworkReply::NetworkError error = raw->error();
    // Network-layer and proxy errors (codes below 200) mean no complete answer arrived. A transfer
    // time-out reports itself as a cancellation; the client cancels only for the reasons above.
    if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError)
        throw PlatformError(kTimedOut);
    if (error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied)
        throw PlatformError(raw->errorString());
    answer.isHttp = status.isValid();
    answer.status = status.toInt();
    const QByteArray rest = raw->readAll();
    if (sink) {
        if (sink->write(rest) != rest.size())
            throw PlatformError(sink->errorString());
    } else {
        answer.body = rest;
    }
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
        throw ParloError(kNoAnswer);
    if (answer.status >= 200 && answer.status <= 299)
        co_return answer.body;
    if (answer.status == 401)
        co_await forgetSession();
    if (auto detail = detailOf(answer.body))
        throw ParloError(*detail);
    throw ParloError(answer.status == 401 ? kSignIn : kUnreachable);
}

void ServerClient::validateID(const QString& id) {
    if (id.size() != 32)
        throw ParloError(kBadID);
    for (QChar c : id) {
        if (!isHex(c))
            throw ParloError(kBadID);
    }
}

QCoro::Task<bool> ServerClient::checkSession() {
    co_await restoreSession();
    if (!token_)
        co_return false;
    HttpAnswer answer;
    try {
        answer = co_await send(request(QStringLiteral("/api/session")), "GET");
    } catch (const std::exception&) {
        co_return token_.has_value();
    }
    QByteArray body;
    try {
        body = co_await checked(std::move(answer));
    } catch (const std::exception&) {
        co_return token_.has_value();
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        co_return token_.has_value();
    const QJsonValue authenticated = document.object().value(QStringLiteral("authenticated"));
    if (document.isObject() && authenticated.isBool() && authenticated.toBool())
        co_return true;
    co_await forgetSession();
    co_return false;
}

QCoro::Task<> ServerClient::login(QString password) {
    co_await restoreSession();
    QNetworkRequest login = request(QStringLiteral("/api/login"));
    login.setRawHeader("Content-Type", "application/json");
    const QByteArray body =
        QJsonDocument(QJsonObject{{QStringLiteral("password"), password}}).toJson(QJsonDocument::Compact);
    HttpAnswer answer = co_await send(login, "POST", body);
    const auto headers = answer.headers;
    co_await checked(std::move(answer));
    std::optional<QString> cookie = sessionCookie(headers);
    if (!cookie)
        throw ParloError(kNoSession);
    setToken(cookie);
    if (remember_)
        co_await vault_.save(token_);
}

QCoro::Task<> ServerClient::logout() {
    co_await restoreSession();
    if (token_) {
        try {
            co_await send(request(QStringLiteral("/api/logout")), "POST");
        } catch (const std::exception&) {
            // Signing out locally does not depend on the service hearing about it.
        }
    }
    co_await forgetSession();
}

QCoro::Task<QString> ServerClient::upload(fs::path file, QString title, Uuid clientID) {
    co_await restoreSession();
    std::error_code code;
    const auto size = fs::file_size(file, code);
    if (code)
        throw platformError(code);
    if (size < static_cast<std::uintmax_t>(kMinimumUploadSize) ||
        size > static_cast<std::uintmax_t>(kMaximumUploadSize))
        throw ParloError(kTooLarge);

    const QByteArray boundary = makeMultipartBoundary().toLatin1();
    const fs::path scratch = scratchFolder();
    BodyFileGuard bodyFile(scratch / (Uuid::random().toString() + ".multipart"));
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
        out.close();
        if (out.error() != QFileDevice::NoError)
            throw PlatformError(out.errorString());
    }

    QNetworkRequest post = request(QStringLiteral("/api/meetings"));
    post.setRawHeader("Content-Type", "multipart/form-data; boundary=" + boundary);
    auto* body = new QFile(pathText(bodyFile.path()));
    if (!body->open(QIODevice::ReadOnly)) {
        const QString description = body->errorString();
        delete body;
        throw PlatformError(description);
    }
    post.setHeader(QNetworkRequest::ContentLengthHeader, body->size());
    HttpAnswer answer = co_await send(post, "POST", {}, body);
    const QByteArray bytes = co_await checked(std::move(answer));

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        throw PlatformError(error.errorString());
    const QJsonValue id = document.object().value(QStringLiteral("id"));
    if (!document.isObject() || !id.isString())
        throw ParloError(kNoMeetingID);
    validateID(id.toString());
    co_return id.toString();
}

QCoro::Task<std::vector<ServerMeeting>> ServerClient::list() {
    co_await restoreSession();
    HttpAnswer answer = co_await send(request(QStringLiteral("/api/meetings")), "GET");
    const QByteArray body = co_await checked(std::move(answer));
    co_return decodeServerMeetingList(
        std::string_view(body.constData(), static_cast<std::size_t>(body.size())));
}

QCoro::Task<ServerMeeting> ServerClient::detail(QString id) {
    co_await restoreSession();
    validateID(id);
    HttpAnswer answer = co_await send(request(QStringLiteral("/api/meetings/") + id), "GET");
    const QByteArray body = co_await checked(std::move(answer));
    co_return decodeServerMeeting(std::string_view(body.constData(), static_cast<std::size_t>(body.size())));
}

QCoro::Task<QByteArray> ServerClient::exportMeeting(QString id, QString format) {
    co_await restoreSession();
    validateID(id);
    static const QStringList formats = {QStringLiteral("md"), QStringLiteral("txt"), QStringLiteral("srt"),
                                        QStringLiteral("json")};
    if (!formats.contains(format))
        throw ParloError(kUnknownFormat);
    HttpAnswer answer = co_await send(
        request(QStringLiteral("/api/meetings/") + id + QStringLiteral("/export/") + format), "GET");
    co_return co_await checked(std::move(answer));
}

QCoro::Task<> ServerClient::audio(QString id, fs::path destination) {
    co_await restoreSession();
    validateID(id);
    QTemporaryFile download(pathText(scratchFolder()) + QStringLiteral("/.audio-XXXXXX.download"));
    if (!download.open())
        throw PlatformError(download.errorString());
    HttpAnswer answer =
        co_await send(request(QStringLiteral("/api/meetings/") + id + QStringLiteral("/audio")), "GET", {},
                      nullptr, &download);
    if (!answer.isHttp || answer.status != 200)
        throw ParloError(kAudioFailed);
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
