#include "LogCapture.h"
#include "ReleaseTestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString hmm = QStringLiteral("status 1 Hmm, the download didn\u2019t go through");
const QString fallbackFailed = QStringLiteral("status 0 Fallback failed: ");
const QString fw = QStringLiteral("fw.tvq");

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The last two outcome signals of a download of `path`.
QStringList ended(bool success, const QString &path, const QString &name = fw)
{
    return {QStringLiteral("finished %1 %2 %3").arg(success).arg(path, name),
            QStringLiteral("transfer %1").arg(success)};
}
} // namespace

Q_DECLARE_METATYPE(ServeRule)
using Head = ServeRule::Head;
using Body = ServeRule::Body;

// The update download: the size check, the Qt route, the curl fallback and their outcomes.
class TestDownload : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void primaryRoute_data();
    void primaryRoute();
    void fallbackOutcomes_data();
    void fallbackOutcomes();
    void unwritableTargetThenNextDownload();
    void oneDownloadAtATime();
    void untrustedCertificateFailsEverywhere();

private:
    QString tempDir;
    QString path; // where fw.tvq lands
};

void TestDownload::init()
{
    tempDir = emptiedPrivateTempDir();
    QVERIFY2(!tempDir.isEmpty(), qPrintable(QDir::tempPath()));
    path = tempDir + QStringLiteral("/fw.tvq");
}

void TestDownload::primaryRoute_data()
{
    QTest::addColumn<ServeRule>("rule");
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<qsizetype>("existingSize"); // -1: no earlier copy
    QTest::addColumn<bool>("shortcut");
    QTest::addColumn<bool>("knownLength");

    const ServeRule rule;
    const qsizetype size = 70000;
    QTest::newRow("same size: no download") << rule << size << size << true << true;
    QTest::newRow("other size: downloaded again")
        << rule << size << qsizetype(1000) << false << true;
    QTest::newRow("no file") << rule << size << qsizetype(-1) << false << true;
    QTest::newRow("large, other size")
        << rule << qsizetype(5 * 1024 * 1024 + 123) << qsizetype(4096) << false << true;
    // A stale copy of the same size must not be trusted when the size is not announced.
    QTest::newRow("head refused with 405")
        << ServeRule{Head::Refuse405} << size << size << false << true;
    QTest::newRow("head without length")
        << ServeRule{Head::NoContentLength} << size << size << false << true;
    QTest::newRow("chunked without length")
        << ServeRule{Head::Normal, Body::Chunked} << size << qsizetype(-1) << false << false;
    QTest::newRow("compressed") << ServeRule{Head::Normal, Body::Deflate} << size << qsizetype(-1)
                                << false << false;
    QTest::newRow("trickle") << ServeRule{Head::Normal, Body::Trickle, -1, 0, 8000, 100} << size
                             << qsizetype(-1) << false << true;
}

void TestDownload::primaryRoute()
{
    QFETCH(ServeRule, rule);
    QFETCH(qsizetype, size);
    QFETCH(qsizetype, existingSize);
    QFETCH(bool, shortcut);
    QFETCH(bool, knownLength);

    // Compressible content, so the compressed row really is smaller on the wire.
    QByteArray served;
    for (int i = 0; served.size() < size; ++i)
        served += "block " + QByteArray::number(i % 97) + " of the firmware image\n";
    served.truncate(size);
    const QByteArray existing(qMax<qsizetype>(existingSize, 0), 'x');
    if (existingSize >= 0)
        QVERIFY(writeFile(path, existing));
    OneRelease r(served);
    r.server.setRule(fw, rule);
    LogCapture capture;
    QVERIFY(r.download());

    QCOMPARE(r.recorder.events, ended(true, path));
    QCOMPARE(r.server.requestCount("HEAD", fw), 1);
    QCOMPARE(r.server.requestCount("GET", fw), shortcut ? 0 : 1);
    QCOMPARE(fileBytes(path), shortcut ? existing : served);
    QVERIFY(!QFile::exists(path + QStringLiteral(".part")));
    QCOMPARE(capture.warnings(), QStringList());
    QCOMPARE(r.recorder.progress.isEmpty(), shortcut);
    if (shortcut)
        return;
    // One signal per chunk; without a known length a defined 0, never a division by 0.
    QVERIFY(r.recorder.progress.size() >= (rule.body == Body::Trickle ? 5 : 1));
    qint64 previous = 0;
    for (qint64 value : std::as_const(r.recorder.progress)) {
        QVERIFY(value >= previous && value <= (knownLength ? 100 : 0));
        previous = value;
    }
    QCOMPARE(r.recorder.progress.last(), qint64(knownLength ? 100 : 0));
}

void TestDownload::fallbackOutcomes_data()
{
    QTest::addColumn<ServeRule>("rule");
    QTest::addColumn<QString>("curlError"); // empty: curl gets the file
    QTest::addColumn<QString>("warning");   // pattern for the one warning
    QTest::addColumn<bool>("progressAbove100");
    QTest::addColumn<int>("curlOnPath"); // 0: the real one, 1: none, 2: one not executable

    const QString httpError = QStringLiteral("DW: Download error occurred: ");
    const QString notFound = httpError + "QNetworkReply::ContentNotFoundError Error string: ";
    // Qt reports a connection cut off mid-body either as an error or, after a reset, as a
    // normal end with too few bytes; both must end on the fallback.
    const QString cutOff = httpError + "|DW: Download incomplete: received \\d+ of \\d+ bytes";
    ServeRule rule{Head::Normal, Body::NotFound404, 1};
    QTest::newRow("404 once, curl gets the file") << rule << QString() << notFound << false << 0;
    rule.times = -1;
    QTest::newRow("404 always, curl refuses the error page")
        << rule << QStringLiteral("curl: (22) The requested URL returned error: 404") << notFound
        << false << 0;
    // curl that cannot be started must still end the download, with the reason.
    QTest::newRow("curl not installed") << rule << QString() << notFound << false << 1;
    QTest::newRow("curl not executable") << rule << QString() << notFound << false << 2;
    QTest::newRow("closed mid-body") << ServeRule{Head::Normal, Body::ShortThenClose, 1, 30000}
                                     << QString() << cutOff << false << 0;
    // Chunked framing with a Content-Length that disagrees: Qt reports no error, only the
    // count of bytes shows that this is not the announced file.
    QTest::newRow("more bytes than announced")
        << ServeRule{Head::Normal, Body::ChunkedWrongLength, 1, 0, 0, 0, 10000} << QString()
        << QStringLiteral("DW: Download incomplete: received 60000 of 10000 bytes") << true << 0;
    QTest::newRow("reset mid-body on both routes")
        << ServeRule{Head::Normal, Body::DropMidBody} << QStringLiteral("curl: (") << cutOff
        << false << 0;
}

void TestDownload::fallbackOutcomes()
{
    QFETCH(ServeRule, rule);
    QFETCH(QString, curlError);
    QFETCH(QString, warning);
    QFETCH(bool, progressAbove100);
    QFETCH(int, curlOnPath);

    QTemporaryDir binDir;
    const QString fakeCurl = binDir.filePath(QStringLiteral("curl"));
    if (curlOnPath == 2)
        QVERIFY(writeFile(fakeCurl, "#!/bin/sh\nexit 0\n") &&
                QFile::setPermissions(fakeCurl, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    const QByteArray previousPath = qgetenv("PATH");
    if (curlOnPath)
        qputenv("PATH", binDir.path().toUtf8());
    const auto restorePath = qScopeGuard([&] { qputenv("PATH", previousPath); });
    const QByteArray served = firmwareBytes(60000, 3);
    OneRelease r(served);
    r.server.setRule(fw, rule);
    // curl must write into the download directory, never into the working directory.
    QTemporaryDir workingDir;
    const QString previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workingDir.path()));
    const auto restore = qScopeGuard([&] { QDir::setCurrent(previousDir); });
    LogCapture capture;
    QVERIFY(r.download());

    const bool curlSucceeds = curlError.isEmpty() && !curlOnPath;
    const QString curlOutcome = curlSucceeds ? QStringLiteral("status 1 Download completed")
                                             : fallbackFailed + curlError + QLatin1Char('*');
    VERIFY_EVENTS(r.recorder.events, QStringList{hmm, curlOutcome} + ended(curlSucceeds, path));
    QVERIFY(curlSucceeds || r.recorder.events.at(1).size() > fallbackFailed.size());
    // No late second report, e.g. from the process object.
    QVERIFY(!r.recorder.waitForTransferSignals(2, 300));
    // Neither an error page nor a cut file is ever presented as the update file.
    QCOMPARE(fileBytes(path) == served, curlSucceeds);
    QVERIFY(!fileBytes(path).contains("404 Not Found"));
    QVERIFY(!QFile::exists(workingDir.filePath(fw)));
    QVERIFY(!QFile::exists(path + QStringLiteral(".part")));
    const QStringList warnings = capture.warnings();
    QVERIFY2(warnings.filter(QRegularExpression("^(" + warning + ')')).size() == 1 &&
                 warnings.size() == 1,
             qPrintable(warnings.join(QLatin1Char('\n'))));
    QCOMPARE(r.server.requestCount("GET", fw), curlOnPath ? 1 : 2);
    QCOMPARE(std::any_of(r.recorder.progress.cbegin(), r.recorder.progress.cend(),
                         [](qint64 value) { return value > 100; }),
             progressAbove100);
}

void TestDownload::unwritableTargetThenNextDownload()
{
    // A folder in the way of a file large enough to pass through the partial file: both routes
    // report it, and the next download carries none of its bytes.
    OneRelease r(firmwareBytes(3 * 1024 * 1024, 5));
    QVERIFY(QDir(tempDir).mkpath(fw));
    LogCapture capture;
    QVERIFY(r.download(2));
    VERIFY_EVENTS(r.recorder.events, ended(false, path) +
                                         QStringList{hmm, fallbackFailed + "curl: (23)*"} +
                                         ended(false, path));
    QCOMPARE(capture.linesStartingWith(QStringLiteral("WARN DW: Could not")).size(), 1);
    QVERIFY(!QFile::exists(path + QStringLiteral(".part")));

    const QByteArray second = firmwareBytes(30000, 12);
    r.server.addFile(QStringLiteral("two.tvq"), second);
    r.server.setCatalogue(R"([{"file_name":"two.tvq","version":"2.0.0"}])");
    r.recorder.events.clear();
    QVERIFY(r.download());
    const QString two = tempDir + QStringLiteral("/two.tvq");
    QCOMPARE(r.recorder.events, ended(true, two, QStringLiteral("two.tvq")));
    QCOMPARE(fileBytes(two), second);
    QCOMPARE(r.recorder.progress.last(), qint64(100));
}

void TestDownload::oneDownloadAtATime()
{
    // Nothing offered: no request at all.
    OneRelease r(firmwareBytes(40000, 4));
    QSignalSpy requests(&r.server, &ReleaseServer::requestReceived);
    r.downloader.downloadFile();
    QVERIFY(!requests.wait(500));

    QVERIFY(fetchCatalogue(r.downloader));
    LogCapture capture;
    r.downloader.downloadFile();
    r.downloader.downloadFile();
    QVERIFY(r.recorder.waitForTransferSignals(1));
    QVERIFY(!r.recorder.waitForTransferSignals(2, 500));
    QCOMPARE(capture.lines(),
             QStringList{"WARN DW: A download is already running; the new request is ignored"});
    QCOMPARE(r.server.requestCount("HEAD", fw), 1);
    QCOMPARE(r.server.requestCount("GET", fw), 1);
}

void TestDownload::untrustedCertificateFailsEverywhere()
{
    OneRelease r(firmwareBytes(1000, 1), fw, ReleaseServer::Mode::Tls);
    QSignalSpy fetched(&r.downloader, &Downloader::releasesJsonFetched);
    QVERIFY(fetchCatalogue(r.downloader));
    QCOMPARE(fetched.size(), 0);

    // The fields are set as the catalogue would set them, to reach the download itself.
    r.downloader.fileName = fw;
    r.downloader.downloadUrl = r.server.baseUrl().toString() + QStringLiteral("/releases/fw.tvq");
    LogCapture capture;
    r.downloader.downloadFile();
    QVERIFY(r.recorder.waitForTransferSignals(1));

    VERIFY_EVENTS(r.recorder.events,
                  QStringList{hmm, fallbackFailed + "curl: (60)*"} + ended(false, path));
    QVERIFY(capture.warnings().value(0).startsWith(
        "DW: Download error occurred: QNetworkReply::SslHandshakeFailedError"));
    // Every handshake failed before a request was made.
    QCOMPARE(r.server.requestCount("GET", QStringLiteral("releases.json")), 0);
    QCOMPARE(r.server.requestCount("GET", fw), 0);
    QVERIFY(!QFile::exists(path));
}

QTEST_GUILESS_MAIN(TestDownload)
#include "tst_download.moc"
