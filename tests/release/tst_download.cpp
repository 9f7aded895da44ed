#include "ReleaseTestSupport.h"
#include "diagnostics/Logging.h"
#include "tests/support/Files.h"

#include "release/UpdateAvailabilityCheck.h"

#include <QtTest>

#include <algorithm>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString hmm = QStringLiteral("status true Hmm, the download didn\u2019t go through");
const QString fallbackFailed = QStringLiteral("status false Fallback failed: ");
const QString fw = QStringLiteral("fw.tvq");

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
    const QString outcome = success ? QStringLiteral("true") : QStringLiteral("false");
    return {QStringLiteral("finished %1 %2 %3").arg(outcome, path, name), "transfer " + outcome};
}

enum class Setup {
    None,
    SameSizeCopy,        // a file of the release's name and size in the download folder
    EarlierCopy,         // an earlier, complete download of another size there
    PlantedInSharedTemp, // another user's file of the right size beside the download folder
    PlantedFolder,       // the download folder itself made by another user
    OwnFileInTemp,       // the user's own file of the release's name and size in the temp folder
    LinkAtPart,          // a link where "<name>.part" goes, to a file of the user's
    NameWithHash,        // "#", "%" and blanks in the catalogue's file name
    CurlMissing,
    FolderInTheWay, // a folder where the file goes
    FillsDisk,      // the download folder on a 32 KiB disk, the size not known beforehand
};
// What the saved path holds after the download.
enum class Left { Served, Existing, Nothing };
struct DownloadCase
{
    ServeRule rule;
    Setup setup;
    QStringList events; // the outcome signals; an entry ending in '*' is a prefix
    int gets;           // of the file; 2: two or more
    Left left;
    qint64 top = -1; // the last progress value of a download by Qt, -1: not checked
    qsizetype size = 60000;
    QString catalogueSize; // its "total_file_size"
};
} // namespace

Q_DECLARE_METATYPE(ServeRule)
Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(DownloadCase)
using Head = ServeRule::Head;
using Body = ServeRule::Body;

// The catalogue with its availability log and the file names it may offer (fuzz_catalogue
// tries any name), and the update download: the size check, the Qt route, the curl fallback
// and their outcomes.
class TestDownload : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { initLogging(QStringLiteral("test")); }
    void init() { QVERIFY2(!emptiedPrivateTempDir().isEmpty(), qPrintable(QDir::tempPath())); }
    void catalogueFromServer_data();
    void catalogueFromServer();
    void download_data();
    void download();
    void startBeforeCatalogue_data();
    void startBeforeCatalogue();
    void missingTempFolder();
    void tlsFallbackStaysSafe_data();
    void tlsFallbackStaysSafe();
};

void TestDownload::catalogueFromServer_data()
{
    QTest::addColumn<QByteArray>("body"); // empty: 404
    // The signals ("fetched <file name at emission>", "version <v>") and the log, in order.
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("fileName"); // the offered one: /releases/<fileName>
    QTest::addColumn<QString>("size");

    const auto offered = [](const QString &name, const QString &version) {
        return QStringList{"INFO fetched " + name, "INFO DW: Update available!",
                           QStringLiteral("INFO DW: Update version:  \"%1\"").arg(version),
                           "INFO version " + version};
    };
    // Not announced (why is logged in our own words, on one line: checked apart).
    const auto notOffered = [](const QString &version) {
        return QStringList{"INFO fetched ", "WARN DW: No updates available!",
                           "INFO version " + version};
    };

    QTest::newRow("empty array") << QByteArray("[]") << QStringList() << QString() << QString();
    // Each element is announced in array order; the last one wins.
    QTest::newRow("three in order")
        << QByteArray(R"([{"file_name":"a.tvq","version":"1.3.0","total_file_size":"10"},
                          {"file_name":"b.tvq","version":"1.5.0","total_file_size":"20"},
                          {"file_name":"c.tvq","version":"1.4.0","total_file_size":"30"}])")
        << offered("a.tvq", "1.3.0") + offered("b.tvq", "1.5.0") + offered("c.tvq", "1.4.0")
        << "c.tvq"
        << "30";
    QTest::newRow("http 404") << QByteArray() << QStringList() << QString() << QString();
    QTest::newRow("top-level object") << QByteArray(R"({"file_name":"fw.tvq","version":"1.5.0"})")
                                      << QStringList() << QString() << QString();
    QTest::newRow("numbers instead of strings")
        << QByteArray(R"([{"file_name":"fw.tvq","version":150,"total_file_size":1024}])")
        << offered("fw.tvq", "") << "fw.tvq" << QString();
    // A release without a usable file name is not offered: nothing could be saved safely.
    QTest::newRow("element not an object")
        << QByteArray(R"([5, {"file_name":"fw.tvq","version":"2","total_file_size":"7"}])")
        << notOffered("") + offered("fw.tvq", "2") << "fw.tvq"
        << "7";
    // Names of another place, or that Windows would read otherwise, are not offered; odd names
    // are, and a good release after a bad one is.
    const std::pair<QString, bool> names[] = {
        {"../../.bashrc", false}, {"..", false},         {"fw..tvq", true},
        {"Con.tvq", false},       {"lpt1", false},       {"fw.tvq.", false},
        {"fw.tvq ", false},       {"C:evil.tvq", false}, {QString("fw") + QChar(0) + "x", false},
        {"fw\u0085.tvq", false},  {"a?<|>*\"", false},   {"fw #2.tvq", true}};
    QJsonArray judged;
    QStringList judgedLog;
    for (const auto &[name, offer] : names) {
        judged.append(QJsonObject{{"file_name", name}, {"version", "1"}});
        judgedLog += offer ? offered(name, "1") : notOffered("1");
    }
    QTest::newRow("names judged") << QJsonDocument(judged).toJson() << judgedLog << "fw #2.tvq"
                                  << QString();
    QTest::newRow("forged log line")
        << QByteArray(R"([{"file_name":"a\nWARN DW: Update available!","version":"1\r\\"}])")
        << notOffered("1\r\\") << QString() << QString();
}

void TestDownload::catalogueFromServer()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, log);
    QFETCH(QString, fileName);
    QFETCH(QString, size);

    ReleaseServer server;
    if (!body.isEmpty())
        server.setCatalogue(body);
    Downloader downloader(server.baseUrl());
    // The availability check runs inside each emission and sees that element's fields.
    connect(&downloader, &Downloader::releasesJsonFetched, &downloader,
            [&] { qInfo().noquote() << "fetched" << downloader.fileName; });
    connect(&downloader, &Downloader::releasesJsonFetched, &downloader,
            UpdateAvailabilityCheck{&downloader}, Qt::DirectConnection);
    connect(&downloader, &Downloader::latestVersionFetched, &downloader,
            [&](const QString &version) { qInfo().noquote() << "version" << version; });
    const LogWatch watch;
    QVERIFY(fetchCatalogue(downloader));

    // Whatever the server sends stays on one line of the downloader's own.
    QStringList lines = watch.messages();
    for (const QString &line : lines.filter(QRegularExpression("^(INFO|WARN) DW: ")))
        QVERIFY2(!line.contains(QRegularExpression("[\\x00-\\x1f\\x85]")), qPrintable(line));
    lines.removeIf([](const QString &line) { return line.startsWith("WARN DW: Release "); });
    QCOMPARE(lines, log);
    QCOMPARE(downloader.fileName, fileName);
    QCOMPARE(downloader.totalFileSize, size);
    // The name is one path segment of the URL, whatever it holds.
    QCOMPARE(QUrl(downloader.downloadUrl).fileName(), fileName);
    QCOMPARE(downloader.downloadUrl.isEmpty(), fileName.isEmpty());
}

void TestDownload::download_data()
{
    QTest::addColumn<DownloadCase>("c");
    const auto row = [](const char *name, const ServeRule &rule, Setup setup,
                        const QStringList &events, int gets, Left left, qint64 top = -1,
                        qsizetype size = 60000, const QString &catalogueSize = QString()) {
        QTest::newRow(name) << DownloadCase{rule, setup, events, gets,
                                            left, top,   size,   catalogueSize};
    };
    // "<saved>" is where the file is saved, "<name>" its name.
    const auto end = [](bool success, const QString &path) {
        return ended(success, path, "<name>");
    };
    const QStringList done = end(true, "<saved>");
    const QStringList viaCurl = QStringList{hmm, "status true Download completed"} + done;
    const auto curlFailed = [&end](const QString &reason) {
        return QStringList{hmm, fallbackFailed + reason + '*'} + end(false, "<saved>");
    };
    const Left served = Left::Served, none = Left::Nothing;
    row("same size: no download", {}, Setup::SameSizeCopy, done, 0, Left::Existing);
    row("other size: downloaded again", {}, Setup::EarlierCopy, done, 1, served, 100);
    // A stale copy of the same size must not be trusted when the size is not announced.
    row("head refused with 405", {Head::Refuse405}, Setup::SameSizeCopy, done, 1, served, 100);
    // Without a known length a defined 0, never a division by 0.
    row("chunked without length", {Head::Normal, Body::Chunked}, Setup::None, done, 1, served, 0);
    row("compressed", {Head::Normal, Body::Deflate}, Setup::None, done, 1, served, 0);
    row("trickle", {Head::Normal, Body::Trickle, -1, 0, 8000, 100}, Setup::None, done, 1, served,
        100);
    row("another user's file in the shared folder", {}, Setup::PlantedInSharedTemp, done, 1, served,
        100);
    row("download folder made by another user", {}, Setup::PlantedFolder, done, 1, served, 100);
    row("the user's own file in a private temp folder", {}, Setup::OwnFileInTemp, done, 1, served,
        100);
    row("name with # % and blanks, on both routes", {Head::Normal, Body::NotFound404, 1},
        Setup::NameWithHash, viaCurl, 2, served);
    // Large enough to reach the disk while it arrives.
    row("large, over a link at .part", {}, Setup::LinkAtPart, done, 1, served, 100,
        5 * 1024 * 1024 + 123);

    const ServeRule rule{Head::Normal, Body::NotFound404, -1};
    row("404 always, curl refuses the error page", rule, Setup::None,
        curlFailed("curl: (22) The requested URL returned error: 404"), 2, none);
    // curl that cannot be started must still end the download, with the reason.
    row("curl not installed", rule, Setup::CurlMissing, curlFailed(""), 1, none);
    // Qt reports a connection cut off mid-body either as an error or, after a reset, as a
    // normal end with too few bytes; both must end on the fallback.
    row("closed mid-body", {Head::Normal, Body::ShortThenClose, 1, 30000}, Setup::None, viaCurl, 2,
        served);
    // Chunked framing with a Content-Length that disagrees: Qt reports no error, only the
    // count of bytes shows that this is not the announced file.
    row("more bytes than announced", {Head::Normal, Body::ChunkedWrongLength, 1, 0, 0, 0, 10000},
        Setup::None, viaCurl, 2, served);
    row("reset mid-body on both routes", {Head::Normal, Body::DropMidBody}, Setup::None,
        curlFailed("curl: ("), 2, none);
    // Without a Content-Length only the HEAD's length shows that the body ended early.
    row("ends early without a length on the Qt route",
        {Head::Normal, Body::NoContentLength, 1, 30000}, Setup::None, viaCurl, 2, served);
    row("ends early without a length on both routes, earlier copy kept",
        {Head::Normal, Body::NoContentLength, -1, 30000}, Setup::EarlierCopy,
        curlFailed("the downloaded file has 30000 bytes instead of 60000"), 2, Left::Existing);
    // Both routes report it: first the save, then curl.
    row("folder in the way", {}, Setup::FolderInTheWay,
        end(false, "<saved>") + curlFailed("the file could not be saved: "), 2, none);
    // A captive portal's page with a fitting Content-Length, where the catalogue says more.
    row("catalogue size disagrees", {}, Setup::None,
        curlFailed("the downloaded file has 203 bytes instead of 60000"), 2, none, -1, 203,
        "60000");
    // A length of 0 is no size, and an answer without a body is no update, on either route.
    row("head says 0 bytes", {Head::ZeroLength}, Setup::None, done, 1, served, 100);
    row("204 without a size", {Head::NoContentLength, Body::NoContent204}, Setup::None,
        curlFailed("the downloaded file is empty"), 2, none);
    row("empty file", {}, Setup::None, curlFailed("the downloaded file is empty"), 2, none, -1, 0);
    // The failed save names no file: the HEAD reply told no size.
    row("disk full while saving", {Head::NoContentLength}, Setup::FillsDisk,
        end(false, "") + QStringList{"status false There is not enough space for the update in *"} +
            end(false, "<saved>"),
        1, none);
}

void TestDownload::download()
{
    QFETCH(DownloadCase, c);
    const Setup setup = c.setup;

    // curl must write into the download folder, never into the working directory.
    QTemporaryDir workingDir;
    const QString previousDir = QDir::currentPath();
    const QByteArray previousPath = qgetenv("PATH");
    QVERIFY(QDir::setCurrent(workingDir.path()));
    if (setup == Setup::CurlMissing)
        qputenv("PATH", workingDir.path().toUtf8());
    const auto restore = qScopeGuard([&] {
        QDir::setCurrent(previousDir);
        qputenv("PATH", previousPath);
    });
    const QString name = setup == Setup::NameWithHash ? QStringLiteral("fw #1%3F.tvq") : fw;
    const QByteArray served = firmwareBytes(c.size, 3);
    // A temporary folder that only we may use, such as the runtime directory.
    QVERIFY(setup != Setup::OwnFileInTemp || ::chmod(qPrintable(QDir::tempPath()), 0700) == 0);
    OneRelease r(served, name, ReleaseServer::Mode::Plain, c.catalogueSize);
    r.server.setRule(name, c.rule);
    const QString folder = r.downloader.downloadDirectory;
    const QString path = folder + '/' + name;
    const QString victim = QDir::tempPath() + "/victim";
    const QByteArray existing(setup == Setup::EarlierCopy ? 1000 : c.size, 'x');
    // Our own folder with what an earlier run left, or one that someone else made.
    QVERIFY(setup == Setup::PlantedInSharedTemp ||
            (setup == Setup::PlantedFolder ? QDir().mkpath(folder) && plantAsNobody(folder)
                                           : makeDownloadFolder(r.downloader)));
    if (setup == Setup::SameSizeCopy || setup == Setup::EarlierCopy ||
        setup == Setup::PlantedFolder)
        QVERIFY(writeFile(path, existing));
    const QString shared = QDir::tempPath() + '/' + fw;
    QVERIFY(setup != Setup::PlantedInSharedTemp ||
            (writeFile(shared, existing) && plantAsNobody(shared)));
    QVERIFY(setup != Setup::OwnFileInTemp || writeFile(shared, existing));
    QVERIFY(setup != Setup::FolderInTheWay || QDir().mkpath(path));
    QVERIFY(setup != Setup::LinkAtPart ||
            (writeFile(victim, "mine") && QFile::link(victim, path + ".part")));
    const bool small = setup == Setup::FillsDisk;
    if (small && QProcess::execute(
                     "mount", {"-t", "tmpfs", "-o", "size=32k,mode=0700", "small", folder}) != 0)
        QSKIP("no tmpfs can be mounted here");
    const auto unmount = qScopeGuard([&] {
        if (small)
            QProcess::execute("umount", {"-l", folder});
    });
    const int outcomes = int(c.events.filter(QRegularExpression("^transfer ")).size());
    QVERIFY(r.download(outcomes));
    // A fresh folder of ours when someone else holds the usual one; theirs is left as it was.
    const QString used = r.downloader.downloadDirectory;
    QCOMPARE(used != folder, setup == Setup::PlantedFolder);
    QVERIFY(setup != Setup::PlantedFolder || fileBytes(path) == existing);
    const QString saved = used + '/' + name;
    VERIFY_EVENTS(r.outcomes.events,
                  c.events.replaceInStrings("<saved>", saved).replaceInStrings("<name>", name));
    // A failure always says why.
    const bool success = c.events.last() == "transfer true";
    QVERIFY(success ||
            r.outcomes.events.value(r.outcomes.events.size() - 3).size() > fallbackFailed.size());
    // No late second report, e.g. from the process object.
    QVERIFY(!r.ended(outcomes + 1, 300));
    // Neither an error page nor a cut file is ever presented as the update file, a failed
    // attempt leaves an earlier complete copy as it was, and no link is followed.
    QCOMPARE(fileBytes(saved), c.left == Left::Existing ? existing
                               : c.left == Left::Served ? served
                                                        : QByteArray());
    QCOMPARE(QDir(used).entryList(QDir::Files),
             QFileInfo(saved).isFile() ? QStringList{name} : QStringList());
    // Nothing in the temporary location itself is taken or touched.
    QCOMPARE(fileBytes(shared).isEmpty(),
             setup != Setup::PlantedInSharedTemp && setup != Setup::OwnFileInTemp);
    QVERIFY(QDir(workingDir.path()).isEmpty());
    QCOMPARE(fileBytes(victim), QByteArray(setup == Setup::LinkAtPart ? "mine" : ""));
    // Qt may send a GET again on a fresh connection after the server closed one.
    const int gotten = r.server.requestCount("GET", name);
    QVERIFY2(c.gets < 2 ? gotten == c.gets : gotten >= c.gets, qPrintable(QString::number(gotten)));
    const QList<qint64> progress = r.progress.numbers();
    QVERIFY(c.gets > 0 || progress.isEmpty());
    if (c.top < 0)
        return;
    // One signal per chunk, rising to the row's last value.
    QVERIFY(progress.size() >= (c.rule.body == Body::Trickle ? 5 : 1));
    QVERIFY(std::is_sorted(progress.cbegin(), progress.cend()));
    QCOMPARE(progress.last(), c.top);
}

void TestDownload::startBeforeCatalogue_data()
{
    QTest::addColumn<QByteArray>("catalogue"); // empty: 404
    QTest::addColumn<QString>("reason");       // empty: downloaded

    const QString noCatalogue = "The list of releases could not be fetched.*";
    const QString noRelease = "The release server offers no update file that can be downloaded.";
    QTest::newRow("catalogue still on its way") << QByteArray(R"([{"file_name":"fw.tvq"}])") << "";
    QTest::newRow("catalogue not found") << QByteArray() << noCatalogue;
    QTest::newRow("no release in it") << QByteArray("[]") << noRelease;
    QTest::newRow("only a refused file name")
        << QByteArray(R"([{"file_name":"../fw.tvq"}])") << noRelease;
}

void TestDownload::startBeforeCatalogue()
{
    QFETCH(QByteArray, catalogue);
    QFETCH(QString, reason);

    OneRelease r(firmwareBytes(40000, 4));
    r.server.setCatalogue(catalogue);
    if (catalogue.isEmpty())
        r.server.setRule("releases.json", {Head::Normal, Body::NotFound404});
    // A press while the download runs is refused: one outcome, one GET.
    connect(
        &r.downloader, &Downloader::downloadingProgressBar, this,
        [&] { r.downloader.downloadFile(); }, Qt::SingleShotConnection);
    // Pressed at once, twice: the reply cannot have come yet, and one outcome follows.
    r.downloader.fetchReleasesJson();
    r.downloader.downloadFile();
    r.downloader.downloadFile();
    QVERIFY(r.ended(1));
    QVERIFY(!r.ended(2, 500));
    VERIFY_EVENTS(r.outcomes.events, reason.isEmpty()
                                         ? ended(true, r.downloader.downloadDirectory + "/fw.tvq")
                                         : QStringList{"status false " + reason, "finished false  ",
                                                       "transfer false"});
    QCOMPARE(r.server.requestCount("GET", fw), reason.isEmpty() ? 1 : 0);
    if (!reason.isEmpty())
        return;
    // A second download in the same run carries none of the first one's bytes.
    r.server.addFile("two.tvq", "second");
    r.server.setCatalogue(R"([{"file_name":"two.tvq"}])");
    QVERIFY(r.download(2));
    QCOMPARE(fileBytes(r.downloader.downloadDirectory + "/two.tvq"), "second");
}

void TestDownload::missingTempFolder()
{
    // Qt then names no temporary location at all: not the root, the system's own instead.
    const QByteArray previous = qgetenv("TMPDIR");
    qputenv("TMPDIR", QDir::tempPath().toUtf8() + "/missing");
    const QString folder = defaultDownloadDirectory();
    qputenv("TMPDIR", previous);
    QCOMPARE(folder, QStringLiteral("/tmp/tovik-updater-%1").arg(::geteuid()));
}

void TestDownload::tlsFallbackStaysSafe_data()
{
    // curl must neither read the user's configuration, which here switches the certificate
    // check off, nor follow a server it trusts to plain http.
    QTest::addColumn<bool>("redirect");
    QTest::newRow("~/.curlrc says insecure, certificate untrusted") << false;
    QTest::newRow("trusted server redirects to http") << true;
}

void TestDownload::tlsFallbackStaysSafe()
{
    QFETCH(bool, redirect);
    OneRelease r(firmwareBytes(1000, 1), fw, ReleaseServer::Mode::Tls);
    ReleaseServer plain;
    plain.addFile(fw, firmwareBytes(1000, 1));
    const QString curlrc = qEnvironmentVariable("HOME") + "/.curlrc";
    QVERIFY(writeFile(curlrc, "insecure\n"));
    qputenv("CURL_CA_BUNDLE", redirect ? r.server.certificatePath().toUtf8() : "");
    r.server.setRule(fw, {Head::Normal, redirect ? Body::Redirect : Body::Normal, -1, 0, 0, 0, 0,
                          plain.baseUrl().toEncoded() + "/releases/fw.tvq"});
    const auto restore = qScopeGuard([&] {
        QFile::remove(curlrc);
        qunsetenv("CURL_CA_BUNDLE");
    });
    // Qt would refuse the certificate for the catalogue too: its fields are set as it would.
    r.downloader.fileName = fw;
    r.downloader.downloadUrl = r.server.baseUrl().toString() + "/releases/fw.tvq";
    const LogWatch log;
    r.downloader.downloadFile();
    QVERIFY(r.ended(1));
    const QString path = r.downloader.downloadDirectory + "/fw.tvq";
    VERIFY_EVENTS(r.outcomes.events,
                  QStringList{hmm, fallbackFailed + (redirect ? "curl: (1)*" : "curl: (60)*")} +
                      ended(false, path));
    QVERIFY(log.messages().filter("WARN ").value(0).startsWith(
        "WARN DW: Download error occurred: QNetworkReply::SslHandshakeFailedError"));
    // Every handshake of Qt's failed before a request was made; curl got no further.
    QCOMPARE(r.server.requestCount("GET", fw) + plain.requestCount("GET", fw), redirect ? 1 : 0);
    QVERIFY(!QFile::exists(path));
}

QTEST_GUILESS_MAIN(TestDownload)
#include "tst_download.moc"
