#pragma once

// A development double of the transcription service: the service contract on loopback HTTPS, for
// tests (in-process, in the test's own event loop) and for trying the application locally. It does
// not transcribe anything: every meeting walks through its stages at a set pace and ends with the
// result of a fixture file.

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QPair>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

class QSslSocket;
class QTcpSocket;

namespace parlo::dev {

// A self-signed certificate (CA:TRUE) for 127.0.0.1, 127.0.0.2 and localhost, made with the openssl
// command line in `folder`. Clients trust it through MELLO_PARLO_CA_FILE or their CA list.
struct TlsFiles {
    QString certificate;
    QString key;
};
// Throws std::runtime_error when openssl fails.
TlsFiles generateCertificate(const QString& folder);

struct DevServiceOptions {
    QString accessKey = QStringLiteral("parlo-dev-key");
    // How long a meeting stays in each of its three stages before "done"; zero makes it done at once.
    std::chrono::milliseconds stageInterval{2000};
    // The result of finished meetings (JSON of a meeting result); empty: the fixture file.
    QByteArray resultJson;
    // Each upload gets a new meeting, even for a known client_id (breaks the contract on purpose).
    bool duplicateUploads = false;
};

// One request as it arrived, for tests to inspect.
struct RecordedRequest {
    QByteArray method;
    QString path;
    QList<QPair<QByteArray, QByteArray>> headers;
    qint64 bodySize = 0;
    QByteArray header(const QByteArray& name) const; // first field of that name, any case
    bool hasHeader(const QByteArray& name) const;
};

// What a matching request gets instead of its normal answer: the faults of a broken or hostile
// service.
struct Fault {
    enum class Kind { Status, Stall, Reset, Redirect, Stream, Drip, Hold };
    Kind kind = Kind::Status;
    int status = 500;
    QByteArray body;                             // Status, Redirect; Stream and Drip: what comes first
    QByteArray contentType = "application/json"; // Status, Redirect, Stream, Drip
    QByteArray location;                         // Redirect, with status 302 or 307
    QByteArray filler;                           // Stream: repeated after `body` until the client leaves
    qint64 declaredLength = -1;                  // Stream: a Content-Length to claim; -1: chunked
    std::chrono::milliseconds interval{0};       // Drip: the pause before each byte
    int times = 1;                               // how many requests it takes; -1: all

    static Fault withStatus(int status, QByteArray body, QByteArray contentType = "application/json");
    static Fault stall();
    static Fault reset();
    static Fault redirect(QByteArray location, int status = 302, QByteArray body = {});
    // A 200 answer that never ends: `head`, then `filler` again and again, chunked or under a
    // Content-Length of `declaredLength`, as fast as the client reads.
    static Fault endless(QByteArray head, QByteArray filler, QByteArray contentType = "application/json",
                         qint64 declaredLength = -1);
    // A 200 answer of `body` whose bytes come one at a time, `interval` apart.
    static Fault drip(QByteArray body, std::chrono::milliseconds interval);
    // The request is served as usual, but its answer waits for releaseHeld().
    static Fault hold();
};

class DevService : public QAbstractHttpServer {
    Q_OBJECT

public:
    explicit DevService(DevServiceOptions options = {}, QObject* parent = nullptr);
    ~DevService() override;

    // Listens with TLS; port 0 takes a free one. Returns the port; throws std::runtime_error.
    quint16 listenTls(const TlsFiles& tls, const QHostAddress& address = QHostAddress::LocalHost,
                      quint16 port = 0);
    // https://<address>:<port>
    QUrl baseUrl() const;

    // The next `fault.times` requests whose method is `method` (empty: any) and whose path is `path`
    // (or starts with it when it ends in "*") get the fault instead of their answer.
    void injectFault(QByteArray method, QString path, Fault fault);
    // Connections that have sent more than `bytes` are reset from then on (a connection lost in the
    // middle of an upload). Negative: off.
    void resetConnectionsAfter(qint64 bytes) { resetAfterBytes_ = bytes; }
    void setDuplicateUploads(bool on) { options_.duplicateUploads = on; }
    void setStageInterval(std::chrono::milliseconds interval) { options_.stageInterval = interval; }
    void setResultJson(QByteArray json) { options_.resultJson = std::move(json); }

    // A meeting that reached the account another way (uploaded from elsewhere); returns its id, a
    // new one unless `id` is given (any text: a hostile service's ids).
    QString addMeeting(const QString& title, double createdUnixTime, const QString& id = {});
    // Sends the answers held by Fault::hold().
    void releaseHeld();
    int heldAnswers() const { return static_cast<int>(held_.size()); }
    // Bytes of endless or dripping answers written so far, and how many of those answers are still
    // being written (their client has not gone).
    qint64 streamedBytes() const { return streamedBytes_; }
    int activeStreams() const { return activeStreams_; }

    const QList<RecordedRequest>& requests() const { return requests_; }
    QList<RecordedRequest> requestsTo(const QString& path) const;
    void clearRequests() { requests_.clear(); }
    // The raw body of the last accepted upload and its file part.
    const QByteArray& lastUploadBody() const { return lastUploadBody_; }
    int meetingCount() const { return static_cast<int>(meetings_.size()); }
    // Connections held open by a stall fault.
    int stalledConnections() const;
    bool hasSession(const QString& token) const { return sessions_.contains(token); }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Meeting {
        QString id;
        QString title;
        double created = 0;
        QString clientID;
        QByteArray audio;
        QElapsedTimer age;
        bool fails = false;
    };
    struct Armed {
        QByteArray method;
        QString path;
        Fault fault;
    };
    struct Answer {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/json";
        QList<QPair<QByteArray, QByteArray>> extraHeaders;
    };

    struct Held {
        QPointer<QTcpSocket> socket;
        QByteArray head;
        QByteArray body;
    };

    std::optional<Fault> takeFault(const QByteArray& method, const QString& path);
    void send(const QHttpServerRequest& request, QTcpSocket* socket, const Answer& answer);
    // The raw HTTP/1.1 head of an answer, for answers written to the socket directly.
    static QByteArray rawHead(int status, const QByteArray& contentType, const QByteArray& framing);
    void stream(QTcpSocket* socket, const Fault& fault);
    void drip(QTcpSocket* socket, const Fault& fault);
    Answer route(const QHttpServerRequest& request, const QByteArray& method, const QString& path);
    Answer login(const QHttpServerRequest& request);
    Answer upload(const QHttpServerRequest& request);
    Answer exportMeeting(const Meeting& meeting, const QString& format) const;
    QByteArray meetingJson(const Meeting& meeting, bool withResult) const;
    QByteArray resultJson() const;
    void watchConnection(QSslSocket* socket);
    bool authorized(const QHttpServerRequest& request) const;

    DevServiceOptions options_;
    QHostAddress address_;
    quint16 port_ = 0;
    QList<Armed> faults_;
    QList<RecordedRequest> requests_;
    QList<Meeting> meetings_;
    QMap<QString, QString> byClientID_;
    QSet<QString> sessions_;
    QByteArray lastUploadBody_;
    QList<QPointer<QTcpSocket>> stalled_;
    qint64 resetAfterBytes_ = -1;
    QList<Held> held_;
    qint64 streamedBytes_ = 0;
    int activeStreams_ = 0;
    mutable QByteArray fixture_;
};

} // namespace parlo::dev
