#include "tests/support/MisbehavingReleaseServer.h"

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTemporaryDir>

namespace {
QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

// A fresh self-signed certificate for 127.0.0.1, made by the openssl program.
struct MisbehavingReleaseServer::Credentials
{
    Credentials()
    {
        const QString keyPath = directory.filePath(QStringLiteral("server-key.pem"));
        QProcess openssl;
        openssl.start(
            QStringLiteral("openssl"),
            QStringLiteral("req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
                           "-addext subjectAltName=IP:127.0.0.1")
                    .split(QLatin1Char(' '))
                << QStringLiteral("-keyout") << keyPath << QStringLiteral("-out")
                << certificatePath);
        if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit ||
            openssl.exitCode() != 0)
            qFatal("No certificate for the TLS release server: %s %s",
                   qPrintable(openssl.errorString()), openssl.readAllStandardError().constData());
        certificate = QSslCertificate(contents(certificatePath), QSsl::Pem);
        key = QSslKey(contents(keyPath), QSsl::Rsa, QSsl::Pem);
    }

    QTemporaryDir directory;
    const QString certificatePath = directory.filePath(QStringLiteral("server-cert.pem"));
    QSslCertificate certificate;
    QSslKey key;
};

ReleaseListener::SocketMaker
MisbehavingReleaseServer::tlsSockets(std::shared_ptr<Credentials> credentials)
{
    if (!credentials)
        return {};
    return [credentials](qintptr descriptor) -> QTcpSocket * {
        auto *socket = new QSslSocket();
        socket->setSocketDescriptor(descriptor);
        socket->setLocalCertificate(credentials->certificate);
        socket->setPrivateKey(credentials->key);
        socket->setPeerVerifyMode(QSslSocket::VerifyNone);
        // A client that refuses our certificate simply hangs up; nothing to do here.
        QObject::connect(socket, &QSslSocket::sslErrors, socket, [] {});
        socket->startServerEncryption();
        return socket;
    };
}

MisbehavingReleaseServer::MisbehavingReleaseServer(Mode mode)
    : MisbehavingReleaseServer(mode == Mode::Tls ? std::make_shared<Credentials>() : nullptr)
{
}

MisbehavingReleaseServer::MisbehavingReleaseServer(std::shared_ptr<Credentials> credentials)
    : ReleaseServer(tlsSockets(credentials),
                    credentials ? QStringLiteral("https") : QStringLiteral("http"))
    , ServerRules(static_cast<ReleaseServer &>(*this))
    , tls(std::move(credentials))
{
}

QString MisbehavingReleaseServer::certificatePath() const
{
    return tls ? tls->certificatePath : QString();
}
