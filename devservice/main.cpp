// The development service as a program: the service contract on loopback HTTPS for trying the
// application locally and for end-to-end tests of the built binary. Not a transcriber: every meeting
// ends with the result of a fixture file.

#include "DevService.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("parlo-devservice"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Mello Parlo development service (loopback HTTPS)"));
    parser.addHelpOption();
    const QCommandLineOption host(QStringLiteral("host"), QStringLiteral("Address to listen on."),
                                  QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port; 0 takes a free one."),
                                  QStringLiteral("port"), QStringLiteral("8443"));
    const QCommandLineOption key(QStringLiteral("key"), QStringLiteral("The personal access key to accept."),
                                 QStringLiteral("key"), QStringLiteral("parlo-dev-key"));
    const QCommandLineOption cert(QStringLiteral("cert"), QStringLiteral("PEM certificate."),
                                  QStringLiteral("file"));
    const QCommandLineOption tlsKey(QStringLiteral("tls-key"), QStringLiteral("PEM private key of --cert."),
                                    QStringLiteral("file"));
    const QCommandLineOption certDir(
        QStringLiteral("cert-dir"),
        QStringLiteral("Folder for a self-signed certificate, made when missing."), QStringLiteral("folder"),
        QStringLiteral("devservice-tls"));
    const QCommandLineOption stage(QStringLiteral("stage-ms"),
                                   QStringLiteral("Time each processing stage takes."),
                                   QStringLiteral("milliseconds"), QStringLiteral("2000"));
    const QCommandLineOption result(QStringLiteral("result"),
                                    QStringLiteral("Result fixture (JSON) of finished meetings."),
                                    QStringLiteral("file"));
    const QCommandLineOption duplicate(
        QStringLiteral("duplicate-ids"),
        QStringLiteral("Answer every upload with a new meeting id (fault injection)."));
    parser.addOptions({host, port, key, cert, tlsKey, certDir, stage, result, duplicate});
    parser.process(app);

    try {
        parlo::dev::DevServiceOptions options;
        options.accessKey = parser.value(key);
        options.stageInterval = std::chrono::milliseconds(parser.value(stage).toLongLong());
        options.duplicateUploads = parser.isSet(duplicate);
        if (parser.isSet(result)) {
            QFile file(parser.value(result));
            if (!file.open(QIODevice::ReadOnly))
                throw std::runtime_error("cannot read " + parser.value(result).toStdString());
            options.resultJson = file.readAll();
        }

        parlo::dev::TlsFiles tls;
        if (parser.isSet(cert) || parser.isSet(tlsKey)) {
            tls = {parser.value(cert), parser.value(tlsKey)};
        } else {
            const QString folder = parser.value(certDir);
            if (!QDir().mkpath(folder))
                throw std::runtime_error("cannot create " + folder.toStdString());
            tls = {QDir(folder).filePath(QStringLiteral("devservice-cert.pem")),
                   QDir(folder).filePath(QStringLiteral("devservice-key.pem"))};
            if (!QFileInfo::exists(tls.certificate) || !QFileInfo::exists(tls.key))
                tls = parlo::dev::generateCertificate(folder);
        }

        parlo::dev::DevService service(options);
        service.listenTls(tls, QHostAddress(parser.value(host)),
                          static_cast<quint16>(parser.value(port).toUInt()));
        std::printf("CA file: %s\n", QFileInfo(tls.certificate).absoluteFilePath().toLocal8Bit().constData());
        std::printf("Access key: %s\n", options.accessKey.toLocal8Bit().constData());
        std::printf("Listening on %s\n", service.baseUrl().toString().toLocal8Bit().constData());
        std::fflush(stdout);
        return app.exec();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "parlo-devservice: %s\n", error.what());
        return 1;
    }
}
