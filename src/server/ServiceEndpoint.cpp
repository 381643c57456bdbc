#include "server/ServiceEndpoint.h"

#include <QFile>

namespace parlo {

namespace {

constexpr int kHttpsPort = 443;

QUrl normalizedBase(const QString& text) {
    QUrl url(text.trimmed(), QUrl::StrictMode);
    QUrl base;
    base.setScheme(url.scheme());
    base.setHost(url.host());
    if (url.port() != -1)
        base.setPort(url.port());
    return base;
}

} // namespace

QUrl serviceBaseUrl() {
    const QString fromEnvironment = qEnvironmentVariable("MELLO_PARLO_SERVICE_URL");
    if (!fromEnvironment.trimmed().isEmpty())
        return normalizedBase(fromEnvironment);
    return normalizedBase(QStringLiteral(MELLO_PARLO_SERVICE_URL_DEFAULT));
}

QString originOf(const QUrl& base) {
    QString origin = base.scheme() + QStringLiteral("://") + base.host(QUrl::FullyEncoded);
    if (base.port() != -1)
        origin += QLatin1Char(':') + QString::number(base.port());
    return origin;
}

QList<QSslCertificate> serviceCaCertificates() {
    const QString path = qEnvironmentVariable("MELLO_PARLO_CA_FILE");
    if (path.isEmpty())
        return {};
    return QSslCertificate::fromPath(path, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
}

bool SameOriginRedirect::allows(const QUrl& target) const {
    if (!target.isValid() || target.scheme() != QStringLiteral("https"))
        return false;
    // QUrl keeps hosts in their normalised (lower-case) form, so this is the exact text comparison.
    if (target.host(QUrl::FullyEncoded) != base_.host(QUrl::FullyEncoded))
        return false;
    return target.port(kHttpsPort) == base_.port(kHttpsPort);
}

} // namespace parlo
