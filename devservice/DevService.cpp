#include "DevService.h"

#include "core/Json.h"
#include "library/MeetingResult.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QProcess>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTimer>
#include <QUuid>

#include <stdexcept>

namespace parlo::dev {

namespace {

const char* const kBytesProperty = "parloReceivedBytes";

// {"<key>":"<value>"}
QByteArray jsonObject(std::string_view key, const QString& value) {
    std::string json;
    JsonWriter out(json);
    out.beginObject();
    out.key(key);
    out.string(value.toStdString());
    out.endObject();
    return QByteArray::fromStdString(json);
}

QByteArray detailBody(const QString& detail) {
    return jsonObject("detail", detail);
}

std::string_view view(const QByteArray& bytes) {
    return std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QByteArray methodName(QHttpServerRequest::Method method) {
    switch (method) {
    case QHttpServerRequest::Method::Get:
        return "GET";
    case QHttpServerRequest::Method::Post:
        return "POST";
    case QHttpServerRequest::Method::Put:
        return "PUT";
    case QHttpServerRequest::Method::Delete:
        return "DELETE";
    case QHttpServerRequest::Method::Head:
        return "HEAD";
    case QHttpServerRequest::Method::Patch:
        return "PATCH";
    case QHttpServerRequest::Method::Options:
        return "OPTIONS";
    default:
        return "OTHER";
    }
}

QByteArray headerOf(const QList<QPair<QByteArray, QByteArray>>& headers, const QByteArray& name) {
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QString clock(double seconds, bool withMilliseconds) {
    const auto total = static_cast<qint64>(seconds * 1000.0 + 0.5);
    const qint64 ms = total % 1000;
    const qint64 s = (total / 1000) % 60;
    const qint64 m = (total / 60000) % 60;
    const qint64 h = total / 3600000;
    if (withMilliseconds)
        return QString::asprintf("%02lld:%02lld:%02lld,%03lld", h, m, s, ms);
    return QString::asprintf("%02lld:%02lld", h * 60 + m, s);
}

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

struct Part {
    QByteArray name;
    QByteArray fileName;
    QByteArray content;
};

// Splits a multipart/form-data body; nothing when it is malformed.
std::optional<QList<Part>> parseMultipart(const QByteArray& body, const QByteArray& boundary) {
    const QByteArray delimiter = "--" + boundary;
    const QByteArray nextDelimiter = "\r\n" + delimiter;
    if (!body.startsWith(delimiter))
        return std::nullopt;
    QList<Part> parts;
    qsizetype pos = 0;
    static const QRegularExpression nameField(QStringLiteral("\\bname=\"([^\"]*)\""));
    static const QRegularExpression fileField(QStringLiteral("\\bfilename=\"([^\"]*)\""));
    for (;;) {
        pos += delimiter.size();
        if (body.mid(pos, 2) == "--")
            return body.mid(pos) == "--\r\n" ? std::optional(parts) : std::nullopt;
        if (body.mid(pos, 2) != "\r\n")
            return std::nullopt;
        pos += 2;
        const qsizetype headerEnd = body.indexOf("\r\n\r\n", pos);
        if (headerEnd < 0)
            return std::nullopt;
        const QString headers = QString::fromUtf8(body.mid(pos, headerEnd - pos));
        const qsizetype contentStart = headerEnd + 4;
        const qsizetype next = body.indexOf(nextDelimiter, contentStart);
        if (next < 0)
            return std::nullopt;
        Part part;
        part.name = nameField.match(headers).captured(1).toUtf8();
        part.fileName = fileField.match(headers).captured(1).toUtf8();
        part.content = body.mid(contentStart, next - contentStart);
        parts.append(part);
        pos = next + 2;
    }
}

} // namespace

TlsFiles generateCertificate(const QString& folder) {
    TlsFiles files{QDir(folder).filePath(QStringLiteral("devservice-cert.pem")),
                   QDir(folder).filePath(QStringLiteral("devservice-key.pem"))};
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-sha256"),
                   QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=Mello Parlo development service"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1,IP:127.0.0.2,DNS:localhost"),
                   QStringLiteral("-addext"), QStringLiteral("basicConstraints=critical,CA:TRUE"),
                   QStringLiteral("-keyout"), files.key, QStringLiteral("-out"), files.certificate});
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0)
        throw std::runtime_error("openssl could not make a certificate: " + openssl.readAll().toStdString());
    return files;
}

QByteArray RecordedRequest::header(const QByteArray& name) const {
    return headerOf(headers, name);
}

bool RecordedRequest::hasHeader(const QByteArray& name) const {
    for (const auto& pair : headers) {
        if (pair.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

Fault Fault::withStatus(int status, QByteArray body, QByteArray contentType) {
    Fault fault;
    fault.kind = Kind::Status;
    fault.status = status;
    fault.body = std::move(body);
    fault.contentType = std::move(contentType);
    return fault;
}

Fault Fault::stall() {
    Fault fault;
    fault.kind = Kind::Stall;
    return fault;
}

Fault Fault::reset() {
    Fault fault;
    fault.kind = Kind::Reset;
    return fault;
}

Fault Fault::redirect(QByteArray location, int status, QByteArray body) {
    Fault fault;
    fault.kind = Kind::Redirect;
    fault.status = status;
    fault.location = std::move(location);
    fault.body = std::move(body);
    return fault;
}

Fault Fault::endless(QByteArray head, QByteArray filler, QByteArray contentType, qint64 declaredLength) {
    Fault fault;
    fault.kind = Kind::Stream;
    fault.status = 200;
    fault.body = std::move(head);
    fault.filler = std::move(filler);
    fault.contentType = std::move(contentType);
    fault.declaredLength = declaredLength;
    return fault;
}

Fault Fault::drip(QByteArray body, std::chrono::milliseconds interval) {
    Fault fault;
    fault.kind = Kind::Drip;
    fault.status = 200;
    fault.body = std::move(body);
    fault.interval = interval;
    return fault;
}

Fault Fault::hold() {
    Fault fault;
    fault.kind = Kind::Hold;
    return fault;
}

DevService::DevService(DevServiceOptions options, QObject* parent)
    : QAbstractHttpServer(parent)
    , options_(std::move(options)) {}

DevService::~DevService() = default;

quint16 DevService::listenTls(const TlsFiles& tls, const QHostAddress& address, quint16 port) {
    QFile certificateFile(tls.certificate);
    QFile keyFile(tls.key);
    if (!certificateFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read the certificate or its key");
    const QSslCertificate certificate(&certificateFile, QSsl::Pem);
    const QSslKey key(&keyFile, QSsl::Rsa, QSsl::Pem);
    if (certificate.isNull() || key.isNull())
        throw std::runtime_error("the certificate or its key is not valid PEM");

    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificate);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);

    auto* server = new QSslServer(this);
    server->setSslConfiguration(configuration);
    // Seen before the HTTP layer connects to the socket, so the byte count runs ahead of its reads.
    connect(server, &QSslServer::startedEncryptionHandshake, this,
            [this](QSslSocket* socket) { watchConnection(socket); });
    if (!server->listen(address, port)) {
        const std::string reason = server->errorString().toStdString();
        delete server;
        throw std::runtime_error("cannot listen: " + reason);
    }
    bind(server);
    address_ = address;
    port_ = server->serverPort();
    return port_;
}

QUrl DevService::baseUrl() const {
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(address_.toString());
    url.setPort(port_);
    return url;
}

void DevService::watchConnection(QSslSocket* socket) {
    socket->setProperty(kBytesProperty, qint64(0));
    connect(socket, &QIODevice::readyRead, this, [this, socket] {
        const qint64 received = socket->property(kBytesProperty).toLongLong() + socket->bytesAvailable();
        socket->setProperty(kBytesProperty, received);
        if (resetAfterBytes_ >= 0 && received > resetAfterBytes_)
            socket->abort();
    });
}

void DevService::injectFault(QByteArray method, QString path, Fault fault) {
    faults_.append(Armed{std::move(method), std::move(path), std::move(fault)});
}

std::optional<Fault> DevService::takeFault(const QByteArray& method, const QString& path) {
    for (qsizetype i = 0; i < faults_.size(); ++i) {
        Armed& armed = faults_[i];
        if (!armed.method.isEmpty() && armed.method != method)
            continue;
        const bool prefix = armed.path.endsWith(QLatin1Char('*'));
        if (prefix ? !path.startsWith(armed.path.chopped(1)) : path != armed.path)
            continue;
        Fault fault = armed.fault;
        if (armed.fault.times > 0 && --armed.fault.times == 0)
            faults_.removeAt(i);
        return fault;
    }
    return std::nullopt;
}

QList<RecordedRequest> DevService::requestsTo(const QString& path) const {
    QList<RecordedRequest> matching;
    for (const RecordedRequest& request : requests_) {
        if (request.path == path)
            matching.append(request);
    }
    return matching;
}

int DevService::stalledConnections() const {
    int count = 0;
    for (const auto& socket : stalled_) {
        if (socket && socket->state() == QAbstractSocket::ConnectedState)
            ++count;
    }
    return count;
}

QString DevService::addMeeting(const QString& title, double createdUnixTime, const QString& id) {
    Meeting meeting;
    meeting.id = id.isNull() ? QUuid::createUuid().toString(QUuid::Id128) : id;
    meeting.title = title;
    meeting.created = createdUnixTime;
    meeting.age.start();
    meetings_.append(meeting);
    return meeting.id;
}

bool DevService::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    const QByteArray method = methodName(request.method());
    const QString path = request.url().path();
    requests_.append(RecordedRequest{method, path, request.headers(), request.body().size()});

    if (std::optional<Fault> fault = takeFault(method, path)) {
        switch (fault->kind) {
        case Fault::Kind::Status:
            send(request, socket, Answer{fault->status, fault->body, fault->contentType, {}});
            return true;
        case Fault::Kind::Stall:
            stalled_.append(QPointer<QTcpSocket>(socket));
            return true;
        case Fault::Kind::Reset:
            QTimer::singleShot(0, socket, [socket] { socket->abort(); });
            return true;
        case Fault::Kind::Redirect:
            send(request, socket,
                 Answer{fault->status, fault->body, fault->contentType, {{"Location", fault->location}}});
            return true;
        case Fault::Kind::Stream:
            stream(socket, *fault);
            return true;
        case Fault::Kind::Drip:
            drip(socket, *fault);
            return true;
        case Fault::Kind::Hold: {
            const Answer answer = route(request, method, path);
            held_.append(Held{QPointer<QTcpSocket>(socket),
                              rawHead(answer.status, answer.contentType,
                                      "Content-Length: " + QByteArray::number(answer.body.size())),
                              answer.body});
            return true;
        }
        }
    }
    send(request, socket, route(request, method, path));
    return true;
}

void DevService::releaseHeld() {
    for (const Held& held : std::exchange(held_, {})) {
        if (held.socket)
            held.socket->write(held.head + held.body);
    }
}

QByteArray DevService::rawHead(int status, const QByteArray& contentType, const QByteArray& framing) {
    return "HTTP/1.1 " + QByteArray::number(status) + " Hostile\r\nContent-Type: " + contentType + "\r\n" +
           framing + "\r\n\r\n";
}

void DevService::stream(QTcpSocket* socket, const Fault& fault) {
    const bool chunked = fault.declaredLength < 0;
    socket->write(rawHead(fault.status, fault.contentType,
                          chunked ? QByteArray("Transfer-Encoding: chunked")
                                  : "Content-Length: " + QByteArray::number(fault.declaredLength)));
    auto frame = [chunked](const QByteArray& bytes) {
        return chunked ? QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n" : bytes;
    };
    if (!fault.body.isEmpty())
        socket->write(frame(fault.body)); // an empty chunk would end a chunked body
    // Written as the client takes it, a megabyte ahead at most, for as long as the client stays.
    const QByteArray filler = fault.filler.isEmpty() ? QByteArray(" ") : fault.filler;
    const QByteArray block = frame(filler.repeated(qMax<qsizetype>(1, 64 * 1024 / filler.size())));
    ++activeStreams_;
    auto* tls = qobject_cast<QSslSocket*>(socket);
    // Behind TLS, what waits to be sent is mostly already encrypted.
    auto backlog = [socket, tls] {
        return socket->bytesToWrite() + (tls ? tls->encryptedBytesToWrite() : 0);
    };
    auto pump = [this, socket, block, backlog] {
        while (socket->state() == QAbstractSocket::ConnectedState && backlog() < 1024 * 1024) {
            socket->write(block);
            streamedBytes_ += block.size();
        }
    };
    connect(socket, &QIODevice::bytesWritten, socket, pump);
    if (tls)
        connect(tls, &QSslSocket::encryptedBytesWritten, socket, pump);
    connect(socket, &QAbstractSocket::disconnected, this, [this] { --activeStreams_; });
    pump();
}

void DevService::drip(QTcpSocket* socket, const Fault& fault) {
    socket->write(
        rawHead(fault.status, fault.contentType, "Content-Length: " + QByteArray::number(fault.body.size())));
    ++activeStreams_;
    auto* timer = new QTimer(socket);
    auto next = std::make_shared<qsizetype>(0);
    connect(timer, &QTimer::timeout, socket, [this, socket, timer, next, body = fault.body] {
        if (*next >= body.size() || socket->state() != QAbstractSocket::ConnectedState) {
            timer->stop();
            return;
        }
        socket->write(body.mid((*next)++, 1));
        ++streamedBytes_;
    });
    connect(socket, &QAbstractSocket::disconnected, this, [this] { --activeStreams_; });
    timer->start(fault.interval);
}

void DevService::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    send(request, socket, Answer{404, detailBody(QStringLiteral("Не найдено.")), "application/json", {}});
}

void DevService::send(const QHttpServerRequest& request, QTcpSocket* socket, const Answer& answer) {
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(answer.status));
    responder.writeHeader("Content-Type", answer.contentType);
    for (const auto& [name, value] : answer.extraHeaders)
        responder.writeHeader(name, value);
    responder.writeHeader("Content-Length", QByteArray::number(answer.body.size()));
    responder.writeBody(answer.body);
}

bool DevService::authorized(const QHttpServerRequest& request) const {
    const QByteArray cookies = headerOf(request.headers(), "cookie");
    for (const QByteArray& item : cookies.split(';')) {
        const QByteArray trimmed = item.trimmed();
        if (trimmed.startsWith("__Host-parlo="))
            return sessions_.contains(QString::fromUtf8(trimmed.mid(13)));
    }
    return false;
}

DevService::Answer DevService::route(const QHttpServerRequest& request, const QByteArray& method,
                                     const QString& path) {
    const auto json = [](int status, QByteArray body) {
        return Answer{status, std::move(body), "application/json", {}};
    };
    // What a browser-facing service demands of state-changing and private requests.
    if (headerOf(request.headers(), "x-parlo-action") != "1")
        return json(403, detailBody(QStringLiteral("Запрос отклонён: нет заголовка X-Parlo-Action.")));

    if (path == QStringLiteral("/api/session") && method == "GET")
        return json(200, authorized(request) ? "{\"authenticated\":true}" : "{\"authenticated\":false}");
    if (path == QStringLiteral("/api/login") && method == "POST")
        return login(request);
    if (path == QStringLiteral("/api/logout") && method == "POST") {
        const QByteArray cookies = headerOf(request.headers(), "cookie");
        for (const QByteArray& item : cookies.split(';')) {
            if (item.trimmed().startsWith("__Host-parlo="))
                sessions_.remove(QString::fromUtf8(item.trimmed().mid(13)));
        }
        return json(200, "{\"ok\":true}");
    }
    if (!path.startsWith(QStringLiteral("/api/meetings")))
        return json(404, detailBody(QStringLiteral("Не найдено.")));
    if (!authorized(request))
        return json(401, detailBody(QStringLiteral("Сессия истекла. Войдите снова.")));

    if (path == QStringLiteral("/api/meetings")) {
        if (method == "POST")
            return upload(request);
        if (method != "GET")
            return json(405, detailBody(QStringLiteral("Метод не поддерживается.")));
        QByteArray list = "[";
        for (const Meeting& meeting : meetings_) {
            if (list.size() > 1)
                list += ',';
            list += meetingJson(meeting, false);
        }
        return json(200, list + ']');
    }

    const QStringList rest = path.mid(QStringLiteral("/api/meetings/").size()).split(QLatin1Char('/'));
    const Meeting* meeting = nullptr;
    for (const Meeting& candidate : meetings_) {
        if (candidate.id == rest.value(0))
            meeting = &candidate;
    }
    if (!meeting || method != "GET")
        return json(404, detailBody(QStringLiteral("Запись не найдена.")));
    if (rest.size() == 1)
        return json(200, meetingJson(*meeting, true));
    if (rest.size() == 3 && rest.at(1) == QStringLiteral("export"))
        return exportMeeting(*meeting, rest.at(2));
    if (rest.size() == 2 && rest.at(1) == QStringLiteral("audio")) {
        if (meeting->audio.isEmpty())
            return json(404, detailBody(QStringLiteral("Звука у этой записи нет.")));
        return Answer{200, meeting->audio, "application/octet-stream", {}};
    }
    return json(404, detailBody(QStringLiteral("Не найдено.")));
}

DevService::Answer DevService::login(const QHttpServerRequest& request) {
    std::optional<std::string> password;
    try {
        readJsonObject(view(request.body()), [&](JsonReader& in, std::string_view key) {
            if (key == "password" && in.peek() == '"')
                password = in.readString();
            else
                in.skipValue();
        });
    } catch (const JsonError&) {
        password.reset();
    }
    if (!password)
        return Answer{400, detailBody(QStringLiteral("Нужен ключ доступа.")), "application/json", {}};
    if (QString::fromStdString(*password) != options_.accessKey)
        return Answer{401, detailBody(QStringLiteral("Неверный ключ доступа.")), "application/json", {}};
    const QString token =
        QUuid::createUuid().toString(QUuid::Id128) + QUuid::createUuid().toString(QUuid::Id128);
    sessions_.insert(token);
    // The session cookie among others, as a real service sets several.
    return Answer{
        200,
        "{\"ok\":true}",
        "application/json",
        {{"Set-Cookie", "parlo_theme=light; Path=/; Secure"},
         {"Set-Cookie", "__Host-parlo=" + token.toUtf8() + "; Path=/; Secure; HttpOnly; SameSite=Strict"},
         {"Set-Cookie", "parlo_seen=1; Path=/; Max-Age=3600; Secure"}}};
}

DevService::Answer DevService::upload(const QHttpServerRequest& request) {
    const auto refuse = [](const QString& detail) {
        return Answer{422, detailBody(detail), "application/json", {}};
    };
    const QByteArray contentType = headerOf(request.headers(), "content-type");
    const qsizetype at = contentType.indexOf("boundary=");
    if (!contentType.startsWith("multipart/form-data") || at < 0)
        return refuse(QStringLiteral("Ожидается multipart/form-data."));
    const QByteArray body = request.body();
    const auto parts = parseMultipart(body, contentType.mid(at + 9));
    if (!parts)
        return refuse(QStringLiteral("Тело запроса повреждено."));
    QMap<QByteArray, Part> fields;
    for (const Part& part : *parts)
        fields.insert(part.name, part);
    for (const char* name : {"title", "language", "speakers", "client_id", "file"}) {
        if (!fields.contains(name))
            return refuse(QStringLiteral("Не хватает поля %1.").arg(QString::fromLatin1(name)));
    }
    if (fields.value("file").content.isEmpty())
        return refuse(QStringLiteral("Файл пуст."));
    lastUploadBody_ = body;

    const QString clientID = QString::fromUtf8(fields.value("client_id").content);
    if (!options_.duplicateUploads && byClientID_.contains(clientID))
        return Answer{200, jsonObject("id", byClientID_.value(clientID)), "application/json", {}};

    Meeting meeting;
    meeting.id = QUuid::createUuid().toString(QUuid::Id128);
    meeting.title = QString::fromUtf8(fields.value("title").content);
    meeting.created = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    meeting.clientID = clientID;
    meeting.audio = fields.value("file").content;
    meeting.fails = meeting.title.startsWith(QStringLiteral("fail:"));
    meeting.age.start();
    meetings_.append(meeting);
    byClientID_.insert(clientID, meeting.id);
    return Answer{201, jsonObject("id", meeting.id), "application/json", {}};
}

QByteArray DevService::resultJson() const {
    if (!options_.resultJson.isEmpty())
        return options_.resultJson;
    if (fixture_.isEmpty()) {
        QFile file(QStringLiteral(PARLO_DEVSERVICE_FIXTURE));
        if (!file.open(QIODevice::ReadOnly))
            throw std::runtime_error("the result fixture cannot be read");
        fixture_ = file.readAll();
        JsonReader check(view(fixture_));
        validateMeetingResult(check);
    }
    return fixture_;
}

QByteArray DevService::meetingJson(const Meeting& meeting, bool withResult) const {
    const qint64 interval = options_.stageInterval.count();
    const qint64 stage = interval <= 0 ? 3 : meeting.age.elapsed() / interval;
    std::string json;
    JsonWriter out(json);
    out.beginObject();
    out.key("id");
    out.string(meeting.id.toStdString());
    out.key("title");
    out.string(meeting.title.toStdString());
    out.key("created");
    out.number(meeting.created);
    if (!meeting.clientID.isEmpty()) {
        out.key("client_id");
        out.string(meeting.clientID.toStdString());
    }
    const auto state = [&out](const char* status, const char* stageText, int progress) {
        out.key("status");
        out.string(status);
        out.key("stage");
        out.string(stageText);
        out.key("progress");
        out.integer(progress);
    };
    if (stage == 0) {
        state("queued", "В очереди", 0);
    } else if (stage == 1) {
        state("processing", "Распознавание речи", 40);
    } else if (stage == 2) {
        state("processing", "Подготовка резюме", 80);
    } else if (meeting.fails) {
        state("error", "Ошибка обработки", 100);
        out.key("error");
        out.string("Сервис разработки отклонил эту запись.");
    } else {
        state("done", "Готово", 100);
        if (withResult) {
            out.key("result");
            out.raw(view(resultJson()));
        }
    }
    out.endObject();
    return QByteArray::fromStdString(json);
}

DevService::Answer DevService::exportMeeting(const Meeting& meeting, const QString& format) const {
    const QByteArray json = meetingJson(meeting, true);
    const ServerMeeting decoded =
        decodeServerMeeting(std::string_view(json.constData(), static_cast<std::size_t>(json.size())));
    if (!decoded.result)
        return Answer{409, detailBody(QStringLiteral("Запись ещё обрабатывается.")), "application/json", {}};
    const MeetingResult& result = *decoded.result;
    QString text;
    if (format == QStringLiteral("json"))
        return Answer{200, json, "application/json", {}};
    if (format == QStringLiteral("md")) {
        text += QStringLiteral("# ") + meeting.title + QStringLiteral("\n\n## Кратко\n\n");
        for (const NoteItem& item : result.summary.summary)
            text += QStringLiteral("- ") + q(item.text) + QLatin1Char('\n');
        text += QStringLiteral("\n## Решения\n\n");
        for (const NoteItem& item : result.summary.decisions)
            text += QStringLiteral("- ") + q(item.text) + QLatin1Char('\n');
        text += QStringLiteral("\n## Задачи\n\n");
        for (const NoteItem& item : result.summary.tasks)
            text += QStringLiteral("- ") + q(item.text) +
                    (item.owner ? QStringLiteral(" (") + q(*item.owner) + QLatin1Char(')') : QString()) +
                    QLatin1Char('\n');
        text += QStringLiteral("\n## Расшифровка\n\n");
        for (const TranscriptSegment& segment : result.segments)
            text += QStringLiteral("**") + clock(segment.start, false) + QLatin1Char(' ') +
                    q(segment.speaker) + QStringLiteral(":** ") + q(segment.text) + QStringLiteral("\n\n");
        return Answer{200, text.toUtf8(), "text/markdown; charset=utf-8", {}};
    }
    if (format == QStringLiteral("txt")) {
        for (const TranscriptSegment& segment : result.segments)
            text += QLatin1Char('[') + clock(segment.start, false) + QStringLiteral("] ") +
                    q(segment.speaker) + QStringLiteral(": ") + q(segment.text) + QLatin1Char('\n');
        return Answer{200, text.toUtf8(), "text/plain; charset=utf-8", {}};
    }
    if (format == QStringLiteral("srt")) {
        int index = 1;
        for (const TranscriptSegment& segment : result.segments) {
            text += QString::number(index++) + QLatin1Char('\n') + clock(segment.start, true) +
                    QStringLiteral(" --> ") + clock(segment.end, true) + QLatin1Char('\n') +
                    q(segment.speaker) + QStringLiteral(": ") + q(segment.text) + QStringLiteral("\n\n");
        }
        return Answer{200, text.toUtf8(), "application/x-subrip; charset=utf-8", {}};
    }
    return Answer{400, detailBody(QStringLiteral("Неизвестный формат экспорта.")), "application/json", {}};
}

} // namespace parlo::dev
