#pragma once

#include "DevService.h"
#include "core/ParloError.h"
#include "library/LocalStore.h"
#include "platform/PlatformParts.h"
#include "server/ServerClient.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

namespace parlo::test {

// The certificate of every loopback service of this test process, made once with openssl.
inline const dev::TlsFiles& loopbackTls() {
    static QTemporaryDir folder;
    static const dev::TlsFiles files = dev::generateCertificate(folder.path());
    return files;
}

// A development service on 127.0.0.1 (or another loopback address) with real TLS, living in the test's
// own event loop.
struct LoopbackService {
    explicit LoopbackService(dev::DevServiceOptions options = zeroDelay(),
                             const QHostAddress& address = QHostAddress::LocalHost)
        : service(std::move(options)) {
        service.listenTls(loopbackTls(), address);
    }

    static dev::DevServiceOptions zeroDelay() {
        dev::DevServiceOptions options;
        options.stageInterval = std::chrono::milliseconds(0);
        return options;
    }

    // Options for a client of this service that trusts its certificate.
    ServerClientOptions clientOptions() const {
        ServerClientOptions options;
        options.base = service.baseUrl();
        options.caCertificates = QSslCertificate::fromPath(loopbackTls().certificate);
        options.secretStore = platform::desktopSecretStore();
        options.scratchFolder = LocalStore::root();
        return options;
    }

    std::unique_ptr<ServerClient> client(bool remember = false) const {
        return std::make_unique<ServerClient>(remember, clientOptions());
    }

    dev::DevService service;
};

// Runs `task` (with or without a value) and returns the description of the failure it must end with.
template <typename T>
QString failureOf(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    try {
        runTask(std::move(task), timeout);
    } catch (const std::exception& error) {
        return describeError(error);
    }
    ADD_FAILURE() << "the operation succeeded";
    return {};
}

inline const QString kUnreachable =
    QStringLiteral("Не удалось связаться с сервером. Запись остаётся на этом компьютере.");

} // namespace parlo::test
