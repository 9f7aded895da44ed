#include "LogCapture.h"
#include "ReleaseTestSupport.h"

#include "release/Downloader.h"
#include "sim/server/ReleaseServer.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString hmm = QStringLiteral("status 1 Hmm, the download didn\u2019t go through");
const QString completed = QStringLiteral("status 1 Download completed");
constexpr int outcomeTimeoutMs = 30000;

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
} // namespace

Q_DECLARE_METATYPE(ServeRule)

// The update download: the size check, the Qt route, the curl fallback and their outcomes.
class TestDownload : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void sizeCheckDecidesDownload_data();
    void sizeCheckDecidesDownload();
    void primaryRouteVariants_data();
    void primaryRouteVariants();
    void fallbackOutcomes_data();
    void fallbackOutcomes();
    void unwritableTargetReportsTwice_data();
    void unwritableTargetReportsTwice();
    void curlThatCannotStart_data();
    void curlThatCannotStart();
    void secondDownloadStartsEmpty();
    void oneDownloadAtATime();
    void nothingBeforeTheCatalogue();
    void untrustedCertificateFailsBothRoutes();
    void trustedCertificateDownloads();

private:
    QString tempDir;
};

void TestDownload::initTestCase()
{
    // The download lands in the temporary directory; it must be this test's private one,
    // because init() empties it.
    tempDir = privateTempDir();
    QVERIFY2(!tempDir.isEmpty(), qPrintable(QDir::tempPath()));
    QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::TempLocation), tempDir);
    QVERIFY(QDir().mkpath(tempDir));
}

void TestDownload::init()
{
    QVERIFY(emptyDirectory(tempDir));
}

void TestDownload::sizeCheckDecidesDownload_data()
{
    QTest::addColumn<qsizetype>("servedSize");
    QTest::addColumn<qsizetype>("existingSize");
    QTest::addColumn<bool>("downloads");

    const qsizetype large = 5 * 1024 * 1024 + 123;
    QTest::newRow("same size: no download") << qsizetype(70000) << qsizetype(70000) << true;
    QTest::newRow("smaller: downloaded again") << qsizetype(70000) << qsizetype(1000) << false;
    QTest::newRow("larger: downloaded again") << qsizetype(70000) << qsizetype(90000) << false;
    QTest::newRow("empty file: downloaded again") << qsizetype(70000) << qsizetype(0) << false;
    QTest::newRow("no file") << qsizetype(70000) << qsizetype(-1) << false;
    QTest::newRow("large, same size: no download") << large << large << true;
    QTest::newRow("large, other size: downloaded again") << large << qsizetype(4096) << false;
}

void TestDownload::sizeCheckDecidesDownload()
{
    QFETCH(qsizetype, servedSize);
    QFETCH(qsizetype, existingSize);
    QFETCH(bool, downloads);
    const bool shortcut = downloads;

    const QByteArray served = firmwareBytes(servedSize, 7);
    ReleaseServer server;
    server.setCatalogue(R"([{"file_name":"fw.tvq","version":"1.5.0"}])");
    server.addFile(QStringLiteral("fw.tvq"), served);
    const QString path = tempDir + QStringLiteral("/fw.tvq");
    const QByteArray existing = firmwareBytes(qMax<qsizetype>(existingSize, 0), 99);
    if (existingSize >= 0)
        QVERIFY(writeFile(path, existing));

    Downloader downloader(server.baseUrl());
    QCOMPARE(downloader.downloadDirectory, tempDir);
    QVERIFY(fetchCatalogue(downloader));
    OutcomeRecorder recorder(&downloader);
    downloader.downloadFile();
    QVERIFY(recorder.waitForTransferSignals(1, outcomeTimeoutMs));

    QCOMPARE(recorder.events,
             (QStringList{QStringLiteral("finished 1 %1 fw.tvq").arg(path), "transfer 1"}));
    QCOMPARE(server.requestCount("HEAD", QStringLiteral("fw.tvq")), 1);
    QCOMPARE(server.requestCount("GET", QStringLiteral("fw.tvq")), shortcut ? 0 : 1);
    QCOMPARE(downloader.downloadFilePath, path);
    if (shortcut) {
        QVERIFY(recorder.progress.isEmpty());
        QCOMPARE(readAll(path), existing);
    } else {
        QVERIFY(!recorder.progress.isEmpty());
        QCOMPARE(recorder.progress.last(), qint64(100));
        QCOMPARE(readAll(path), served);
    }
    QVERIFY(!QFile::exists(path + QStringLiteral(".part")));
}

void TestDownload::primaryRouteVariants_data()
{
    QTest::addColumn<ServeRule>("rule");
    QTest::addColumn<bool>("knownLength");
    QTest::addColumn<int>("minProgressSignals");

    ServeRule rule;
    QTest::newRow("plain") << rule << true << 1;
    rule.head = ServeRule::Head::Refuse405;
    QTest::newRow("head refused with 405") << rule << true << 1;
    rule.head = ServeRule::Head::NoContentLength;
    QTest::newRow("head without length") << rule << true << 1;
    rule = ServeRule();
    rule.body = ServeRule::Body::Chunked;
    QTest::newRow("chunked without length") << rule << false << 1;
    rule.body = ServeRule::Body::NoContentLength;
    QTest::newRow("body until close") << rule << false << 1;
    rule.body = ServeRule::Body::Deflate;
    QTest::newRow("compressed") << rule << false << 1;
    rule.body = ServeRule::Body::Trickle;
    rule.trickleBytes = 8000;
    rule.trickleIntervalMs = 100;
    QTest::newRow("trickle") << rule << true << 5;
}

void TestDownload::primaryRouteVariants()
{
    QFETCH(ServeRule, rule);
    QFETCH(bool, knownLength);
    QFETCH(int, minProgressSignals);

    // Compressible content, so the compressed row really is smaller on the wire.
    QByteArray served;
    for (int i = 0; served.size() < 40000; ++i)
        served += "block " + QByteArray::number(i % 97) + " of the firmware image\n";
    ReleaseServer server;
    server.setCatalogue(R"([{"file_name":"fw.tvq","version":"1.5.0"}])");
    server.addFile(QStringLiteral("fw.tvq"), served);
    server.setRule(QStringLiteral("fw.tvq"), rule);
    // A stale copy of the same size must not be trusted when the size is not announced.
    const QString path = tempDir + QStringLiteral("/fw.tvq");
    if (rule.head != ServeRule::Head::Normal)
        QVERIFY(writeFile(path, QByteArray(served.size(), 'x')));

    Downloader downloader(server.baseUrl());
    QVERIFY(fetchCatalogue(downloader));
    OutcomeRecorder recorder(&downloader);
    LogCapture capture;
    downloader.downloadFile();
    QVERIFY(recorder.waitForTransferSignals(1, outcomeTimeoutMs));

    QCOMPARE(recorder.events,
             (QStringList{QStringLiteral("finished 1 %1 fw.tvq").arg(path), "transfer 1"}));
    QCOMPARE(readAll(path), served);
    QVERIFY(capture.linesStartingWith(QStringLiteral("WARN")).isEmpty());
    QVERIFY(recorder.progress.size() >= minProgressSignals);
    qint64 previous = 0;
    for (qint64 value : recorder.progress) {
        // Without a known length the value is a defined 0, never the result of a division by 0.
        if (!knownLength)
            QCOMPARE(value, qint64(0));
        QVERIFY(value >= previous && value <= 100);
        previous = value;
    }
    if (knownLength)
        QCOMPARE(recorder.progress.last(), qint64(100));
    QCOMPARE(downloader.downloadBuffer.size(), 0);
}

void TestDownload::fallbackOutcomes_data()
{
    QTest::addColumn<ServeRule>("rule");
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<bool>("curlSucceeds");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QString>("curlError");
    QTest::addColumn<bool>("progressAbove100");

    // Patterns, anchored at the start of the single warning.
    const QString httpError = QStringLiteral("WARN DW: Download error occurred: ");
    // Qt reports a connection cut off mid-body either as an error or, after a reset, as a
    // normal end with too few bytes; both must end on the fallback.
    const QString cutOff =
        httpError + QStringLiteral("|WARN DW: Download incomplete: received \\d+ of \\d+ bytes");
    const qsizetype small = 60000;
    const qsizetype large = 6 * 1024 * 1024;
    ServeRule rule;
    rule.times = 1;
    rule.body = ServeRule::Body::NotFound404;
    QTest::newRow("404 once, curl gets the file")
        << rule << small << true
        << httpError + "QNetworkReply::ContentNotFoundError Error string: " << QString() << false;
    rule.times = -1;
    QTest::newRow("404 always, curl refuses the error page")
        << rule << small << false
        << httpError + "QNetworkReply::ContentNotFoundError Error string: "
        << QStringLiteral("curl: (22) The requested URL returned error: 404") << false;
    rule = ServeRule();
    rule.times = 1;
    rule.body = ServeRule::Body::ShortThenClose;
    rule.cutAfter = 30000;
    QTest::newRow("closed mid-body") << rule << small << true << cutOff << QString() << false;
    rule.body = ServeRule::Body::DropMidBody;
    QTest::newRow("reset mid-body") << rule << small << true << cutOff << QString() << false;
    // Chunked framing with a Content-Length that disagrees: Qt reports no error, only the
    // count of bytes shows that this is not the announced file.
    rule.body = ServeRule::Body::ChunkedWrongLength;
    rule.announcedLength = 10000;
    QTest::newRow("more bytes than announced")
        << rule << small << true
        << QStringLiteral("WARN DW: Download incomplete: received 60000 of 10000 bytes")
        << QString() << true;
    rule.announcedLength = 80000;
    QTest::newRow("fewer bytes than announced")
        << rule << small << true
        << QStringLiteral("WARN DW: Download incomplete: received 60000 of 80000 bytes")
        << QString() << false;
    rule.times = -1;
    rule.body = ServeRule::Body::DropMidBody;
    QTest::newRow("reset mid-body on both routes")
        << rule << small << false << cutOff << QStringLiteral("curl: (") << false;
    // Large files are partly on disk when the transfer breaks off.
    rule = ServeRule();
    rule.times = 1;
    rule.body = ServeRule::Body::DropMidBody;
    rule.cutAfter = 4 * 1024 * 1024;
    QTest::newRow("large, reset mid-body") << rule << large << true << cutOff << QString() << false;
    rule.times = -1;
    QTest::newRow("large, reset mid-body on both routes")
        << rule << large << false << cutOff << QStringLiteral("curl: (") << false;
    rule.times = 1;
    rule.body = ServeRule::Body::ChunkedWrongLength;
    rule.announcedLength = 1000;
    QTest::newRow("large, more bytes than announced")
        << rule << large << true
        << QStringLiteral("WARN DW: Download incomplete: received 6291456 of 1000 bytes")
        << QString() << true;
}

void TestDownload::fallbackOutcomes()
{
    QFETCH(ServeRule, rule);
    QFETCH(qsizetype, size);
    QFETCH(bool, curlSucceeds);
    QFETCH(QString, warning);
    QFETCH(QString, curlError);
    QFETCH(bool, progressAbove100);

    const QByteArray served = firmwareBytes(size, 3);
    ReleaseServer server;
    server.setCatalogue(R"([{"file_name":"fw.tvq","version":"1.5.0"}])");
    server.addFile(QStringLiteral("fw.tvq"), served);
    server.setRule(QStringLiteral("fw.tvq"), rule);
    // curl must write into the download directory, never into the working directory.
    QTemporaryDir workingDir;
    const QString previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workingDir.path()));
    const auto restore = qScopeGuard([&] { QDir::setCurrent(previousDir); });

    Downloader downloader(server.baseUrl());
    QVERIFY(fetchCatalogue(downloader));
    OutcomeRecorder recorder(&downloader);
    LogCapture capture;
    downloader.downloadFile();
    QVERIFY(recorder.waitForTransferSignals(1, outcomeTimeoutMs));

    const QString path = tempDir + QStringLiteral("/fw.tvq");
    QCOMPARE(recorder.events.size(), 4);
    QCOMPARE(recorder.events.at(0), hmm);
    if (curlSucceeds) {
        QCOMPARE(recorder.events.mid(1),
                 (QStringList{completed, QStringLiteral("finished 1 %1 fw.tvq").arg(path),
                              "transfer 1"}));
        QCOMPARE(readAll(path), served);
    } else {
        QVERIFY2(recorder.events.at(1).startsWith(QStringLiteral("status 0 Fallback failed: ") +
                                                  curlError),
                 qPrintable(recorder.events.at(1)));
        QCOMPARE(recorder.events.mid(2),
                 (QStringList{QStringLiteral("finished 0 %1 fw.tvq").arg(path), "transfer 0"}));
        // Neither an error page nor a cut file is ever presented as the update file.
        QVERIFY(readAll(path) != served);
        QVERIFY(!readAll(path).contains("404 Not Found"));
    }
    QVERIFY(!QFile::exists(workingDir.filePath(QStringLiteral("fw.tvq"))));
    QVERIFY(!QFile::exists(path + QStringLiteral(".part")));
    const QStringList warnings = capture.linesStartingWith(QStringLiteral("WARN"));
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^(") + warning + QLatin1Char(')'))
                 .match(warnings.first())
                 .hasMatch(),
             qPrintable(warnings.first()));
    QCOMPARE(server.requestCount("GET", QStringLiteral("fw.tvq")), 2);
    bool above = false;
    for (qint64 value : recorder.progress)
        above = above || value > 100;
    QCOMPARE(above, progressAbove100);
}

void TestDownload::unwritableTargetReportsTwice_data()
{
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("name");
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<QString>("curlError");

    QTest::newRow("a folder in the way") << QString() << QStringLiteral("fw.tvq")
                                         << qsizetype(50000) << QStringLiteral("curl: (23)");
    QTest::newRow("large, a folder in the way")
        << QString() << QStringLiteral("fw.tvq") << qsizetype(3 * 1024 * 1024)
        << QStringLiteral("curl: (23)");
    if (QFileInfo(QStringLiteral("/dev/full")).isWritable())
        QTest::newRow("disk full") << QStringLiteral("/dev") << QStringLiteral("full")
                                   << qsizetype(50000) << QStringLiteral("curl: (23)");
}

void TestDownload::unwritableTargetReportsTwice()
{
    QFETCH(QString, directory);
    QFETCH(QString, name);
    QFETCH(qsizetype, size);
    QFETCH(QString, curlError);

    ReleaseServer server;
    server.setCatalogue(
        QStringLiteral(R"([{"file_name":"%1","version":"1.5.0"}])").arg(name).toUtf8());
    server.addFile(name, firmwareBytes(size, 5));
    Downloader downloader(server.baseUrl());
    if (directory.isEmpty()) {
        directory = tempDir;
        QVERIFY(QDir(tempDir).mkpath(name));
    }
    downloader.downloadDirectory = directory;
    QVERIFY(fetchCatalogue(downloader));
    OutcomeRecorder recorder(&downloader);
    LogCapture capture;
    downloader.downloadFile();
    QVERIFY(recorder.waitForTransferSignals(2, outcomeTimeoutMs));

    const QString path = directory + QLatin1Char('/') + name;
    QCOMPARE(recorder.events.size(), 6);
    QCOMPARE(recorder.events.mid(0, 3),
             (QStringList{QStringLiteral("finished 0 %1 %2").arg(path, name), "transfer 0", hmm}));
    QVERIFY2(
        recorder.events.at(3).startsWith(QStringLiteral("status 0 Fallback failed: ") + curlError),
        qPrintable(recorder.events.at(3)));
    QCOMPARE(recorder.events.mid(4),
             (QStringList{QStringLiteral("finished 0 %1 %2").arg(path, name), "transfer 0"}));
    QCOMPARE(capture.linesStartingWith(QStringLiteral("WARN DW: Could not")).size(), 1);
    QVERIFY(!QFile::exists(path + QStringLiteral(".part")));
}

void TestDownload::curlThatCannotStart_data()
{
    QTest::addColumn<bool>("presentButNotExecutable");
    QTest::newRow("not installed") << false;
    QTest::newRow("not executable") << true;
}

void TestDownload::curlThatCannotStart()
{
    QFETCH(bool, presentButNotExecutable);

    QTemporaryDir binDir;
    if (presentButNotExecutable) {
        QVERIFY(writeFile(binDir.filePath(QStringLiteral("curl")), "#!/bin/sh\nexit 0\n"));
        QFile::setPermissions(binDir.filePath(QStringLiteral("curl")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    const QByteArray previousPath = qgetenv("PATH");
    qputenv("PATH", binDir.path().toUtf8());
    const auto restore = qScopeGuard([&] { qputenv("PATH", previousPath); });

    ServeRule rule;
    rule.body = ServeRule::Body::NotFound404;
    ReleaseServer server;
    server.setCatalogue(R"([{"file_name":"fw.tvq","version":"1.5.0"}])");
    server.addFile(QStringLiteral("fw.tvq"), firmwareBytes(1000, 2));
    server.setRule(QStringLiteral("fw.tvq"), rule);
    Downloader downloader(server.baseUrl());
    QVERIFY(fetchCatalogue(downloader));
    OutcomeRecorder recorder(&downloader);
    downloader.downloadFile();
    QVERIFY(recorder.waitForTransferSignals(1, outcomeTimeoutMs));

    const QString path = tempDir + QStringLiteral("/fw.tvq");
    QCOMPARE(recorder.events.size(), 4);
    QCOMPARE(recorder.events.at(0), hmm);
    QVERIFY2(recorder.events.at(1).startsWith(QStringLiteral("status 0 Fallback failed: ")) &&
                 recorder.events.at(1).size() > QStringLiteral("status 0 Fallback failed: ").size(),
             qPrintable(recorder.events.at(1)));
    QCOMPARE(recorder.events.mid(2),
             (QStringList{QStringLiteral("finished 0 %1 fw.tvq").arg(path), "transfer 0"}));
    // No late second report from the process object.
    QVERIFY(!recorder.waitForTransferSignals(2, 300));
}

void TestDownload::secondDownloadStartsEmpty()
{
    const QByteArray first = firmwareBytes(3 * 1024 * 1024, 11);
    const QByteArray second = firmwareBytes(30000, 12);
    ReleaseServer server;
    server.setCatalogue(R"([{"file_name":"one.tvq","version":"1.0.0"}])");
    server.addFile(QStringLiteral("one.tvq"), first);
    server.addFile(QStringLiteral("two.tvq"), second);
    // The first attempt breaks off after part of the file has arrived, and curl fails too.
    ServeRule rule;
    rule.body = ServeRule::Body::DropMidBody;
    // Past the first megabyte, so part of it was already written to disk.
    rule.cutAfter = 2 * 1024 * 1024;
    server.setRule(QStringLiteral("one.tvq"), rule);

    Downloader downloader(server.baseUrl());
    QVERIFY(fetchCatalogue(downloader));
    OutcomeRecorder recorder(&downloader);
    downloader.downloadFile();
    QVERIFY(recorder.waitForTransferSignals(1, outcomeTimeoutMs));
    QCOMPARE(recorder.events.last(), QStringLiteral("transfer 0"));

    server.setCatalogue(R"([{"file_name":"two.tvq","version":"2.0.0"}])");
    QVERIFY(fetchCatalogue(downloader));
    recorder.events.clear();
    recorder.progress.clear();
    downloader.downloadFile();
    QVERIFY(recorder.waitForTransferSignals(2, outcomeTimeoutMs));
    const QString path = tempDir + QStringLiteral("/two.tvq");
    QCOMPARE(recorder.events,
             (QStringList{QStringLiteral("finished 1 %1 two.tvq").arg(path), "transfer 1"}));
    QCOMPARE(readAll(path), second);
    QCOMPARE(recorder.progress.last(), qint64(100));
    QVERIFY(!QFile::exists(tempDir + QStringLiteral("/one.tvq.part")));
}

void TestDownload::oneDownloadAtATime()
{
    ReleaseServer server;
    server.setCatalogue(R"([{"file_name":"fw.tvq","version":"1.5.0"}])");
    server.addFile(QStringLiteral("fw.tvq"), firmwareBytes(40000, 4));
    Downloader downloader(server.baseUrl());
    QVERIFY(fetchCatalogue(downloader));
    OutcomeRecorder recorder(&downloader);
    LogCapture capture;
    downloader.downloadFile();
    downloader.downloadFile();
    QVERIFY(recorder.waitForTransferSignals(1, outcomeTimeoutMs));
    QVERIFY(!recorder.waitForTransferSignals(2, 500));
    QCOMPARE(capture.lines(),
             QStringList{"WARN DW: A download is already running; the new request is ignored"});
    QCOMPARE(server.requestCount("HEAD", QStringLiteral("fw.tvq")), 1);
    QCOMPARE(server.requestCount("GET", QStringLiteral("fw.tvq")), 1);
    // Once finished, the next request is served again (here from the complete copy).
    downloader.downloadFile();
    QVERIFY(recorder.waitForTransferSignals(2, outcomeTimeoutMs));
    QCOMPARE(server.requestCount("HEAD", QStringLiteral("fw.tvq")), 2);
    QCOMPARE(server.requestCount("GET", QStringLiteral("fw.tvq")), 1);
}

void TestDownload::nothingBeforeTheCatalogue()
{
    ReleaseServer server;
    server.addFile(QStringLiteral("fw.tvq"), firmwareBytes(1000, 1));
    Downloader downloader(server.baseUrl());
    OutcomeRecorder recorder(&downloader);
    QSignalSpy requests(&server, &ReleaseServer::requestReceived);
    downloader.downloadFile();
    QVERIFY(!requests.wait(500));
    QVERIFY(recorder.events.isEmpty());
}

void TestDownload::untrustedCertificateFailsBothRoutes()
{
    ReleaseServer server(ReleaseServer::Mode::Tls);
    QVERIFY(server.isListening());
    server.addFile(QStringLiteral("fw.tvq"), firmwareBytes(1000, 1));
    Downloader downloader(server.baseUrl());
    // The catalogue cannot be fetched over an untrusted connection; the fields are set as
    // the catalogue would set them to reach the download itself.
    downloader.fileName = QStringLiteral("fw.tvq");
    downloader.downloadUrl = server.baseUrl().toString() + QStringLiteral("/releases/fw.tvq");
    OutcomeRecorder recorder(&downloader);
    LogCapture capture;
    downloader.downloadFile();
    QVERIFY(recorder.waitForTransferSignals(1, outcomeTimeoutMs));

    const QString path = tempDir + QStringLiteral("/fw.tvq");
    QCOMPARE(recorder.events.size(), 4);
    QCOMPARE(recorder.events.at(0), hmm);
    QVERIFY2(
        recorder.events.at(1).startsWith(QStringLiteral("status 0 Fallback failed: curl: (60)")),
        qPrintable(recorder.events.at(1)));
    QCOMPARE(recorder.events.mid(2),
             (QStringList{QStringLiteral("finished 0 %1 fw.tvq").arg(path), "transfer 0"}));
    QVERIFY(capture.linesStartingWith(QStringLiteral("WARN DW:"))
                .value(0)
                .startsWith(QStringLiteral(
                    "WARN DW: Download error occurred: QNetworkReply::SslHandshakeFailedError")));
    QCOMPARE(server.requestCount("GET", QStringLiteral("fw.tvq")), 0);
    QVERIFY(!QFile::exists(path));
}

void TestDownload::trustedCertificateDownloads()
{
    // Control case: with our certificate trusted, the same server serves over TLS.
    ReleaseServer server(ReleaseServer::Mode::Tls);
    QVERIFY(server.isListening());
    const QByteArray served = firmwareBytes(80000, 8);
    server.setCatalogue(R"([{"file_name":"fw.tvq","version":"1.5.0"}])");
    server.addFile(QStringLiteral("fw.tvq"), served);
    QSslConfiguration previous = QSslConfiguration::defaultConfiguration();
    QSslConfiguration trusting = previous;
    trusting.addCaCertificates(server.certificatePath());
    QSslConfiguration::setDefaultConfiguration(trusting);
    const auto restore = qScopeGuard([&] { QSslConfiguration::setDefaultConfiguration(previous); });

    Downloader downloader(server.baseUrl());
    QVERIFY(fetchCatalogue(downloader));
    QCOMPARE(downloader.version, QStringLiteral("1.5.0"));
    OutcomeRecorder recorder(&downloader);
    downloader.downloadFile();
    QVERIFY(recorder.waitForTransferSignals(1, outcomeTimeoutMs));
    const QString path = tempDir + QStringLiteral("/fw.tvq");
    QCOMPARE(recorder.events,
             (QStringList{QStringLiteral("finished 1 %1 fw.tvq").arg(path), "transfer 1"}));
    QCOMPARE(readAll(path), served);
}

QTEST_GUILESS_MAIN(TestDownload)
#include "tst_download.moc"
