#include "sim/server/ReleaseServer.h"

#include "sim/server/ReleaseListener.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslKey>
#include <QTemporaryDir>

namespace {
const QString releasesPrefix = QStringLiteral("/releases/");
} // namespace

bool ReleaseServer::generateCertificate(const QString &directory, QString *certificatePath,
                                        QString *keyPath, QString *error)
{
    *certificatePath = directory + QStringLiteral("/server-cert.pem");
    *keyPath = directory + QStringLiteral("/server-key.pem");
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                   *keyPath, QStringLiteral("-out"), *certificatePath, QStringLiteral("-days"),
                   QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                   QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1")});
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0) {
        *error = openssl.errorString() + QLatin1Char(' ') +
                 QString::fromLocal8Bit(openssl.readAllStandardError());
        return false;
    }
    return true;
}

ReleaseServer::ReleaseServer(Mode serverMode, QObject *parent)
    : QObject(parent)
    , mode(serverMode)
{
    listener = new ReleaseListener(&state);
    if (mode == Mode::Tls) {
        certificateDirectory = QDir::tempPath() + QStringLiteral("/release-server-cert-") +
                               QString::number(QCoreApplication::applicationPid()) +
                               QLatin1Char('-') +
                               QString::number(reinterpret_cast<quintptr>(this), 16);
        QDir().mkpath(certificateDirectory);
        QString keyPath;
        QString error;
        if (!generateCertificate(certificateDirectory, &certificateFile, &keyPath, &error)) {
            qWarning().noquote() << "ReleaseServer: no certificate:" << error;
            delete listener;
            listener = nullptr;
            return;
        }
        QFile certificate(certificateFile);
        QFile key(keyPath);
        certificate.open(QIODevice::ReadOnly);
        key.open(QIODevice::ReadOnly);
        listener->setTls(QSslCertificate(certificate.readAll(), QSsl::Pem),
                         QSslKey(key.readAll(), QSsl::Rsa, QSsl::Pem));
    }
    listener->moveToThread(&thread);
    connect(&thread, &QThread::finished, listener, &QObject::deleteLater);
    connect(listener, &ReleaseListener::requestReceived, this, &ReleaseServer::requestReceived,
            Qt::QueuedConnection);
    connect(listener, &ReleaseListener::requestEnded, this, &ReleaseServer::requestEnded,
            Qt::QueuedConnection);
    thread.setObjectName(QStringLiteral("release-server"));
    thread.start();
    QMetaObject::invokeMethod(listener, &ReleaseListener::listenOnLoopback,
                              Qt::BlockingQueuedConnection, &port);
}

ReleaseServer::~ReleaseServer()
{
    thread.quit();
    thread.wait();
    if (!certificateDirectory.isEmpty())
        QDir(certificateDirectory).removeRecursively();
}

QUrl ReleaseServer::baseUrl() const
{
    QUrl url;
    url.setScheme(mode == Mode::Tls ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(port);
    return url;
}

void ReleaseServer::setCatalogue(const QByteArray &json)
{
    state.setCatalogue(json);
}

void ReleaseServer::addFile(const QString &name, const QByteArray &bytes)
{
    state.addFile(name, bytes);
}

void ReleaseServer::addFileFromPath(const QString &name, const QString &path)
{
    state.addFileFromPath(name, path);
}

void ReleaseServer::setRule(const QString &name, const ServeRule &rule)
{
    state.setRule(name, rule);
}

int ReleaseServer::requestCount(const QByteArray &method, const QString &name) const
{
    return state.requestCount(method, releasesPrefix + name);
}
