#pragma once

#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QUrl>

namespace parlo {

// The service's HTTPS base URL: MELLO_PARLO_SERVICE_URL from the environment when set and not empty,
// otherwise the value the build was configured with. Scheme and authority only; a trailing slash or
// path is dropped. Read anew on every call so tests can point a client at a loopback service.
QUrl serviceBaseUrl();

// The Origin header text of a base URL: scheme, host and explicit port, no trailing slash.
QString originOf(const QUrl& base);

// Extra certificate authorities from the PEM file named by MELLO_PARLO_CA_FILE (self-hosted services,
// the development service, tests). Empty when the variable is unset or the file cannot be read: the
// system's authorities alone then decide, and an untrusted server fails the handshake.
QList<QSslCertificate> serviceCaCertificates();

// The rule every redirect is held to: only to the service itself. The scheme must be exactly "https",
// the host exactly the service host, and the port the service's own port (the base URL's explicit
// port, or 443 when it has none; an absent port in the target counts as 443). Any other target is
// refused before a byte is sent to it, so the session cookie never leaves the service host.
class SameOriginRedirect {
public:
    explicit SameOriginRedirect(QUrl base) : base_(std::move(base)) {}

    bool allows(const QUrl& target) const;

private:
    QUrl base_;
};

} // namespace parlo
