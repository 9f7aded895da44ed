#include "LogCapture.h"
#include "ReleaseTestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

namespace {
const QString hmm = QStringLiteral("status 1 Hmm, the download didn\u2019t go through");
const QString fallbackFailed = QStringLiteral("status 0 Fallback failed: ");
const QString fw = QStringLiteral("fw.tvq");

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Gives the file to the unprivileged user "nobody", as if that user had put it there.
bool plantAsNobody(const QString &path)
{
    const passwd *nobody = ::getpwnam("nobody");
    return nobody &&
           ::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid) == 0;
}

// The last two outcome signals of a download of `path`.
QStringList ended(bool success, const QString &path, const QString &name = fw)
{
    return {QStringLiteral("finished %1 %2 %3").arg(success).arg(path, name),
            QStringLiteral("transfer %1").arg(success)};
}

enum class Setup {
    None,
    SameSizeCopy,        // a file of the release's name and size in the download folder
    EarlierCopy,         // an earlier, complete download of another size there
    PlantedInSharedTemp, // another user's file of the right size beside the download folder
    PlantedFolder,       // the download folder itself made by another user, open to all
    LinkAtPart,          // a link where "<name>.part" goes, to a file of the user's
    NameWithHash,        // "#", "?" and blanks in the catalogue's file name
    CurlMissing,
    CurlNotExecutable,
};
enum class Outcome { Saved, Cached, CurlSaved, CurlFailed, Refused };
} // namespace

Q_DECLARE_METATYPE(ServeRule)
Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(Outcome)
using Head = ServeRule::Head;
using Body = ServeRule::Body;

// The update download: the size check, the Qt route, the curl fallback and their outcomes.
class TestDownload : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void download_data();
    void download();
    void startBeforeCatalogue_data();
    void startBeforeCatalogue();
    void unwritableTargetThenNextDownload();
    void tlsFallbackStaysSafe_data();
    void tlsFallbackStaysSafe();

private:
    QString tempDir;
};

void TestDownload::init()
{
    tempDir = emptiedPrivateTempDir();
    QVERIFY2(!tempDir.isEmpty(), qPrintable(QDir::tempPath()));
}

void TestDownload::download_data()
{
    QTest::addColumn<ServeRule>("rule");
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<QString>("catalogueSize"); // its "total_file_size"
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QString>("curlFailure"); // how "Fallback failed: " goes on
    QTest::addColumn<QString>("warnings");    // pattern for all of them, one a line

    const qsizetype size = 60000;
    const QString notFound = "DW: Download error occurred: QNetworkReply::ContentNotFoundError .*";
    // Qt reports a connection cut off mid-body either as an error or, after a reset, as a
    // normal end with too few bytes; both must end on the fallback.
    const QString cutOff = "DW: Download error occurred: .*|DW: Download incomplete: received "
                           "\\d+ of 60000 bytes";
    const QString early = "DW: Download incomplete: received 30000 of 60000 bytes";
    const auto row = [&](const char *name, ServeRule rule, Setup setup, Outcome outcome,
                         const QString &curlFailure = QString(),
                         const QString &warnings = QString()) {
        QTest::newRow(name) << rule << size << QString() << setup << outcome << curlFailure
                            << warnings;
    };
    row("same size: no download", {}, Setup::SameSizeCopy, Outcome::Cached);
    row("other size: downloaded again", {}, Setup::EarlierCopy, Outcome::Saved);
    // A stale copy of the same size must not be trusted when the size is not announced.
    row("head refused with 405", {Head::Refuse405}, Setup::SameSizeCopy, Outcome::Saved);
    row("head without length", {Head::NoContentLength}, Setup::SameSizeCopy, Outcome::Saved);
    row("chunked without length", {Head::Normal, Body::Chunked}, Setup::None, Outcome::Saved);
    row("compressed", {Head::Normal, Body::Deflate}, Setup::None, Outcome::Saved);
    row("trickle", {Head::Normal, Body::Trickle, -1, 0, 8000, 100}, Setup::None, Outcome::Saved);
    row("another user's file in the shared folder is not ours", {}, Setup::PlantedInSharedTemp,
        Outcome::Saved);
    row("download folder made by another user", {}, Setup::PlantedFolder, Outcome::Refused,
        QString(), "DW: Refusing the download folder .*: it belongs to another user\nDW: No .*");
    row("name with # ? and blanks", {}, Setup::NameWithHash, Outcome::Saved);
    // Large enough to reach the disk while it arrives.
    QTest::newRow("large, over a link at .part")
        << ServeRule{} << qsizetype(5 * 1024 * 1024 + 123) << QString() << Setup::LinkAtPart
        << Outcome::Saved << QString() << QString();

    ServeRule rule{Head::Normal, Body::NotFound404, 1};
    row("404 once, curl gets the file", rule, Setup::None, Outcome::CurlSaved, QString(), notFound);
    rule.times = -1;
    row("404 always, curl refuses the error page", rule, Setup::None, Outcome::CurlFailed,
        "curl: (22) The requested URL returned error: 404", notFound);
    // curl that cannot be started must still end the download, with the reason.
    row("curl not installed", rule, Setup::CurlMissing, Outcome::CurlFailed, "", notFound);
    row("curl not executable", rule, Setup::CurlNotExecutable, Outcome::CurlFailed, "", notFound);
    row("closed mid-body", {Head::Normal, Body::ShortThenClose, 1, 30000}, Setup::None,
        Outcome::CurlSaved, QString(), cutOff);
    // Chunked framing with a Content-Length that disagrees: Qt reports no error, only the
    // count of bytes shows that this is not the announced file.
    row("more bytes than announced", {Head::Normal, Body::ChunkedWrongLength, 1, 0, 0, 0, 10000},
        Setup::None, Outcome::CurlSaved, QString(),
        "DW: Download incomplete: received 60000 of 10000 bytes");
    row("reset mid-body on both routes", {Head::Normal, Body::DropMidBody}, Setup::None,
        Outcome::CurlFailed, "curl: (", cutOff);
    // Without a Content-Length only the HEAD's length shows that the body ended early.
    row("ends early without a length on the Qt route",
        {Head::Normal, Body::NoContentLength, 1, 30000}, Setup::None, Outcome::CurlSaved, QString(),
        early);
    row("ends early without a length on both routes, earlier copy kept",
        {Head::Normal, Body::NoContentLength, -1, 30000}, Setup::EarlierCopy, Outcome::CurlFailed,
        "the downloaded file has 30000 bytes instead of 60000", early);
    // A captive portal's page with a fitting Content-Length, where the catalogue says more.
    QTest::newRow("catalogue size disagrees")
        << ServeRule{} << qsizetype(203) << QStringLiteral("60000") << Setup::None
        << Outcome::CurlFailed << "the downloaded file has 203 bytes instead of 60000"
        << "DW: Download incomplete: received 203 of 60000 bytes";
}

void TestDownload::download()
{
    QFETCH(ServeRule, rule);
    QFETCH(qsizetype, size);
    QFETCH(QString, catalogueSize);
    QFETCH(Setup, setup);
    QFETCH(Outcome, outcome);
    QFETCH(QString, curlFailure);
    QFETCH(QString, warnings);

    QTemporaryDir binDir;
    const QString fakeCurl = binDir.filePath(QStringLiteral("curl"));
    QVERIFY(setup != Setup::CurlNotExecutable ||
            (writeFile(fakeCurl, "#!/bin/sh\nexit 0\n") &&
             QFile::setPermissions(fakeCurl, QFileDevice::ReadOwner | QFileDevice::WriteOwner)));
    const QByteArray previousPath = qgetenv("PATH");
    if (setup == Setup::CurlMissing || setup == Setup::CurlNotExecutable)
        qputenv("PATH", binDir.path().toUtf8());
    const auto restorePath = qScopeGuard([&] { qputenv("PATH", previousPath); });
    const QString name = setup == Setup::NameWithHash ? QStringLiteral("fw #1?.tvq") : fw;
    const QByteArray served = firmwareBytes(size, 3);
    OneRelease r(served, name, ReleaseServer::Mode::Plain, catalogueSize);
    r.server.setRule(name, rule);
    const QString folder = r.downloader.downloadDirectory;
    const QString path = folder + QLatin1Char('/') + name;
    const QString victim = tempDir + QStringLiteral("/victim");
    const QByteArray existing(setup == Setup::EarlierCopy ? 1000 : size, 'x');
    // Our own folder, with what an earlier run left, or one that someone else made.
    QVERIFY(
        setup == Setup::PlantedInSharedTemp ||
        (setup == Setup::PlantedFolder ? QDir().mkpath(folder) : makeDownloadFolder(r.downloader)));
    if (setup == Setup::SameSizeCopy || setup == Setup::EarlierCopy ||
        setup == Setup::PlantedFolder)
        QVERIFY(writeFile(path, existing));
    if (setup == Setup::PlantedInSharedTemp)
        QVERIFY(writeFile(tempDir + '/' + fw, existing) && plantAsNobody(tempDir + '/' + fw));
    QVERIFY(setup != Setup::PlantedFolder || plantAsNobody(folder));
    if (setup == Setup::LinkAtPart)
        QVERIFY(writeFile(victim, "mine") && QFile::link(victim, path + QStringLiteral(".part")));
    // curl must write into the download folder, never into the working directory.
    QTemporaryDir workingDir;
    const QString previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workingDir.path()));
    const auto restore = qScopeGuard([&] { QDir::setCurrent(previousDir); });
    LogCapture capture;
    QVERIFY(r.download());

    const bool success =
        outcome == Outcome::Saved || outcome == Outcome::Cached || outcome == Outcome::CurlSaved;
    QStringList expected = ended(success, path, name);
    if (outcome == Outcome::CurlSaved)
        expected.prepend(QStringLiteral("status 1 Download completed"));
    if (outcome == Outcome::CurlFailed)
        expected.prepend(fallbackFailed + curlFailure + QLatin1Char('*'));
    if (outcome == Outcome::CurlSaved || outcome == Outcome::CurlFailed)
        expected.prepend(hmm);
    if (outcome == Outcome::Refused)
        expected.prepend(QStringLiteral("status 0 The download folder *"));
    VERIFY_EVENTS(r.recorder.events, expected);
    QVERIFY(success || r.recorder.events.at(1).size() > fallbackFailed.size());
    // No late second report, e.g. from the process object.
    QVERIFY(!r.recorder.waitForTransferSignals(2, 300));
    // Neither an error page nor a cut file is ever presented as the update file, and a failed
    // attempt leaves an earlier complete copy as it was.
    const bool kept = outcome == Outcome::Cached || outcome == Outcome::Refused ||
                      (!success && setup == Setup::EarlierCopy);
    QCOMPARE(fileBytes(path), kept ? existing : success ? served : QByteArray());
    QCOMPARE(QDir(folder).entryList(QDir::Files),
             QFile::exists(path) ? QStringList{name} : QStringList());
    QVERIFY(QDir(workingDir.path()).isEmpty());
    QCOMPARE(fileBytes(victim), QByteArray(setup == Setup::LinkAtPart ? "mine" : ""));
    const QString logged = capture.warnings().join(QLatin1Char('\n'));
    QVERIFY2(
        QRegularExpression(QRegularExpression::anchoredPattern(warnings)).match(logged).hasMatch(),
        qPrintable(logged));
    const int gets = outcome == Outcome::Cached || outcome == Outcome::Refused  ? 0
                     : outcome == Outcome::Saved || setup >= Setup::CurlMissing ? 1
                                                                                : 2;
    // Qt may send a GET again on a fresh connection after the server closed one.
    const int gotten = r.server.requestCount("GET", name);
    QVERIFY2(gets < 2 ? gotten == gets : gotten >= gets, qPrintable(QString::number(gotten)));
    QVERIFY(gets > 0 || r.recorder.progress.isEmpty());
    if (outcome != Outcome::Saved)
        return;
    // One signal per chunk; without a known length a defined 0, never a division by 0.
    const bool knownLength = rule.body != Body::Chunked && rule.body != Body::Deflate;
    QVERIFY(r.recorder.progress.size() >= (rule.body == Body::Trickle ? 5 : 1));
    qint64 previous = 0;
    for (qint64 value : std::as_const(r.recorder.progress)) {
        QVERIFY(value >= previous && value <= (knownLength ? 100 : 0));
        previous = value;
    }
    QCOMPARE(r.recorder.progress.last(), qint64(knownLength ? 100 : 0));
}

void TestDownload::startBeforeCatalogue_data()
{
    QTest::addColumn<QByteArray>("catalogue"); // empty: 404
    QTest::addColumn<bool>("requested");       // whether the catalogue was asked for at all
    QTest::addColumn<QString>("reason");       // empty: downloaded

    const QString noCatalogue = QStringLiteral("The list of releases could not be fetched.*");
    const QString noRelease =
        QStringLiteral("The release server offers no update file that can be downloaded.");
    QTest::newRow("catalogue still on its way")
        << QByteArray(R"([{"file_name":"fw.tvq"}])") << true << QString();
    QTest::newRow("catalogue not found") << QByteArray() << true << noCatalogue;
    QTest::newRow("catalogue never asked for") << QByteArray("[]") << false << noCatalogue;
    QTest::newRow("no release in it") << QByteArray("[]") << true << noRelease;
    QTest::newRow("only a refused file name")
        << QByteArray(R"([{"file_name":"../fw.tvq"}])") << true << noRelease;
}

void TestDownload::startBeforeCatalogue()
{
    QFETCH(QByteArray, catalogue);
    QFETCH(bool, requested);
    QFETCH(QString, reason);

    OneRelease r(firmwareBytes(40000, 4));
    r.server.setCatalogue(catalogue);
    if (catalogue.isEmpty())
        r.server.setRule(QStringLiteral("releases.json"), {Head::Normal, Body::NotFound404});
    LogCapture capture;
    // A third press while it runs is refused aloud.
    connect(
        &r.downloader, &Downloader::downloadingProgressBar, this,
        [&] { r.downloader.downloadFile(); }, Qt::SingleShotConnection);
    if (requested)
        r.downloader.fetchReleasesJson();
    // Pressed at once, twice: the reply cannot have come yet, and one outcome follows.
    r.downloader.downloadFile();
    if (requested)
        r.downloader.downloadFile();
    QVERIFY(r.recorder.waitForTransferSignals(1));
    QVERIFY(!r.recorder.waitForTransferSignals(2, 500));
    VERIFY_EVENTS(r.recorder.events,
                  reason.isEmpty()
                      ? ended(true, r.downloader.downloadDirectory + "/fw.tvq")
                      : QStringList{"status 0 " + reason, "finished 0  ", "transfer 0"});
    if (reason.isEmpty())
        QCOMPARE(capture.warnings(),
                 QStringList{"DW: A download is already running; the new request is ignored"});
    else
        QVERIFY(capture.warnings().constLast().startsWith("DW: No download: " + reason.chopped(2)));
    QCOMPARE(r.server.requestCount("HEAD", fw), reason.isEmpty() ? 1 : 0);
    QCOMPARE(r.server.requestCount("GET", fw), reason.isEmpty() ? 1 : 0);
}

void TestDownload::unwritableTargetThenNextDownload()
{
    // A folder in the way of the file: both routes report it, and the next download carries
    // none of its bytes.
    OneRelease r(firmwareBytes(3 * 1024 * 1024, 5));
    const QString path = r.downloader.downloadDirectory + QStringLiteral("/fw.tvq");
    QVERIFY(makeDownloadFolder(r.downloader) && QDir().mkpath(path));
    LogCapture capture;
    QVERIFY(r.download(2));
    VERIFY_EVENTS(r.recorder.events,
                  ended(false, path) +
                      QStringList{hmm, fallbackFailed + "the file could not be saved: *"} +
                      ended(false, path));
    QCOMPARE(capture.warnings().filter(QStringLiteral("DW: Could not save")).size(), 1);
    QVERIFY(!QFile::exists(path + QStringLiteral(".part")));

    const QByteArray second = firmwareBytes(30000, 12);
    r.server.addFile(QStringLiteral("two.tvq"), second);
    r.server.setCatalogue(R"([{"file_name":"two.tvq","version":"2.0.0"}])");
    r.recorder.events.clear();
    QVERIFY(r.download());
    const QString two = r.downloader.downloadDirectory + QStringLiteral("/two.tvq");
    QCOMPARE(r.recorder.events, ended(true, two, QStringLiteral("two.tvq")));
    QCOMPARE(fileBytes(two), second);
    QCOMPARE(r.recorder.progress.last(), qint64(100));
}

void TestDownload::tlsFallbackStaysSafe_data()
{
    QTest::addColumn<bool>("redirect"); // false: the certificate is not trusted
    QTest::addColumn<QString>("curlError");
    // The user's own curl configuration must not switch the certificate check off.
    QTest::newRow("~/.curlrc says insecure") << false << QStringLiteral("curl: (60)");
    // curl trusts the server here, which then sends it to plain http.
    QTest::newRow("redirect to http") << true << QStringLiteral("curl: (1)");
}

void TestDownload::tlsFallbackStaysSafe()
{
    QFETCH(bool, redirect);
    QFETCH(QString, curlError);

    OneRelease r(firmwareBytes(1000, 1), fw, ReleaseServer::Mode::Tls);
    ReleaseServer plain;
    plain.addFile(fw, firmwareBytes(1000, 1));
    const QString curlrc = qEnvironmentVariable("HOME") + QStringLiteral("/.curlrc");
    QVERIFY(writeFile(curlrc, "insecure\n"));
    if (redirect) {
        qputenv("CURL_CA_BUNDLE", r.server.certificatePath().toUtf8());
        r.server.setRule(fw, {Head::Normal, Body::Redirect, -1, 0, 0, 0, 0,
                              plain.baseUrl().toEncoded() + "/releases/fw.tvq"});
    }
    const auto restore = qScopeGuard([&] {
        QFile::remove(curlrc);
        qunsetenv("CURL_CA_BUNDLE");
    });
    QSignalSpy fetched(&r.downloader, &Downloader::releasesJsonFetched);
    QVERIFY(fetchCatalogue(r.downloader));
    QCOMPARE(fetched.size(), 0);

    // The fields are set as the catalogue would set them, to reach the download itself.
    r.downloader.fileName = fw;
    r.downloader.downloadUrl = r.server.baseUrl().toString() + QStringLiteral("/releases/fw.tvq");
    LogCapture capture;
    r.downloader.downloadFile();
    QVERIFY(r.recorder.waitForTransferSignals(1));

    const QString path = r.downloader.downloadDirectory + QStringLiteral("/fw.tvq");
    VERIFY_EVENTS(r.recorder.events,
                  QStringList{hmm, fallbackFailed + curlError + '*'} + ended(false, path));
    QVERIFY(capture.warnings().value(0).startsWith(
        "DW: Download error occurred: QNetworkReply::SslHandshakeFailedError"));
    // Every handshake of Qt's failed before a request was made; curl got no further.
    QCOMPARE(r.server.requestCount("GET", QStringLiteral("releases.json")), 0);
    QCOMPARE(r.server.requestCount("GET", fw), redirect ? 1 : 0);
    QCOMPARE(plain.requestCount("GET", fw), 0);
    QVERIFY(!QFile::exists(path));
}

QTEST_GUILESS_MAIN(TestDownload)
#include "tst_download.moc"
