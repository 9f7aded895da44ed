#include "LogCapture.h"
#include "ReleaseTestSupport.h"

#include "release/CatalogueReader.h"
#include "release/Downloader.h"
#include "release/UpdateAvailabilityCheck.h"
#include "sim/server/ReleaseServer.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

// The catalogue: its reading rules, the availability log, and the file names it may offer.
// (What is offered and what is then downloaded: tst_download.)
class TestCatalogue : public QObject
{
    Q_OBJECT
private slots:
    void readsCatalogueBodies_data();
    void readsCatalogueBodies();
    void judgesFileNames_data();
    void judgesFileNames();
    void computesProgress_data();
    void computesProgress();
    void catalogueFromServer_data();
    void catalogueFromServer();
    void instrumentVersionChangesNothing();
};

void TestCatalogue::readsCatalogueBodies_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("fileNames");
    QTest::addColumn<QStringList>("versions");
    QTest::addColumn<QString>("lastSize");

    QTest::newRow("three in order")
        << QByteArray(R"([{"file_name":"a.tvq","version":"1.3.0","total_file_size":"10"},
                          {"file_name":"b.tvq","version":"1.5.0","total_file_size":"20"},
                          {"file_name":"c.tvq","version":"1.4.0","total_file_size":"30"}])")
        << QStringList{"a.tvq", "b.tvq", "c.tvq"} << QStringList{"1.3.0", "1.5.0", "1.4.0"}
        << QStringLiteral("30");
    QTest::newRow("truncated json")
        << QByteArray(R"([{"file_name":"a.tvq")") << QStringList() << QStringList() << QString();
    QTest::newRow("numbers instead of strings")
        << QByteArray(R"([{"file_name":"a.tvq","version":1.5,"total_file_size":1024}])")
        << QStringList{"a.tvq"} << QStringList{""} << QString();
    QTest::newRow("element not an object")
        << QByteArray(R"(["a.tvq", 5, null, {"file_name":"b.tvq","version":"2"}])")
        << QStringList{"", "", "", "b.tvq"} << QStringList{"", "", "", "2"} << QString();
    QTest::newRow("nested values read as empty")
        << QByteArray(R"([{"file_name":["a"],"version":{"v":"1"},"total_file_size":"7"}])")
        << QStringList{""} << QStringList{""} << QStringLiteral("7");
}

void TestCatalogue::readsCatalogueBodies()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, fileNames);
    QFETCH(QStringList, versions);
    QFETCH(QString, lastSize);

    const QList<CatalogueRelease> releases = readCatalogue(body);
    QStringList gotNames;
    QStringList gotVersions;
    for (const CatalogueRelease &release : releases) {
        gotNames.append(release.fileName);
        gotVersions.append(release.version);
    }
    QCOMPARE(gotNames, fileNames);
    QCOMPARE(gotVersions, versions);
    QCOMPARE(releases.isEmpty() ? QString() : releases.last().totalFileSize, lastSize);
}

void TestCatalogue::judgesFileNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("safe");

    QTest::newRow("plain") << QStringLiteral("tovik-1.5.0.tvq") << true;
    QTest::newRow("dot inside") << QStringLiteral("fw.v2.tvq") << true;
    QTest::newRow("unicode") << QStringLiteral("fw-\u00e9t\u00e9.tvq") << true;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("absolute unix") << QStringLiteral("/etc/passwd") << false;
    QTest::newRow("absolute windows") << QStringLiteral("C:\\Windows\\evil.dll") << false;
    QTest::newRow("drive relative") << QStringLiteral("C:evil.tvq") << false;
    QTest::newRow("unc") << QStringLiteral("\\\\host\\share\\fw.tvq") << false;
    QTest::newRow("subfolder") << QStringLiteral("sub/fw.tvq") << false;
    QTest::newRow("backslash") << QStringLiteral("sub\\fw.tvq") << false;
    QTest::newRow("parent") << QStringLiteral("..") << false;
    QTest::newRow("parent prefix") << QStringLiteral("../fw.tvq") << false;
    QTest::newRow("parent windows") << QStringLiteral("..\\fw.tvq") << false;
    QTest::newRow("double dot inside") << QStringLiteral("fw..tvq") << false;
    QTest::newRow("current dir") << QStringLiteral(".") << false;
    QTest::newRow("stream") << QStringLiteral("fw.tvq:hidden") << false;
    QTest::newRow("nul") << QStringLiteral("fw.tvq") + QChar(0) + QStringLiteral("x") << false;
    QTest::newRow("newline") << QStringLiteral("fw\n.tvq") << false;
}

void TestCatalogue::judgesFileNames()
{
    QFETCH(QString, name);
    QFETCH(bool, safe);

    QCOMPARE(unsafeFileNameReason(name).isEmpty(), safe);
    const QString url = releaseDownloadUrl(QStringLiteral("https://x.example"), name);
    QCOMPARE(url.isEmpty(), !safe);
    if (safe) {
        QCOMPARE(url, QStringLiteral("https://x.example/releases/") + name);
        // Whatever is accepted stays a direct child of the download directory.
        const QString path = QDir::cleanPath(QStringLiteral("/dl/") + name);
        QCOMPARE(QFileInfo(path).path(), QStringLiteral("/dl"));
    }
}

void TestCatalogue::computesProgress_data()
{
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("percent");

    QTest::newRow("half") << qint64(50) << qint64(100) << qint64(50);
    QTest::newRow("truncates") << qint64(1) << qint64(3) << qint64(33);
    QTest::newRow("whole") << qint64(4096) << qint64(4096) << qint64(100);
    QTest::newRow("more than announced") << qint64(250) << qint64(100) << qint64(250);
    QTest::newRow("no length") << qint64(12345) << qint64(0) << qint64(0);
    QTest::newRow("negative length") << qint64(12345) << qint64(-1) << qint64(0);
    QTest::newRow("absurd ratio") << std::numeric_limits<qint64>::max() << qint64(1)
                                  << std::numeric_limits<qint64>::max();
}

void TestCatalogue::computesProgress()
{
    QFETCH(qint64, received);
    QFETCH(qint64, total);
    QFETCH(qint64, percent);
    QCOMPARE(downloadProgressPercent(received, total), percent);
}

void TestCatalogue::catalogueFromServer_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("notFound");
    // "fetched <file name as set at emission>" and "version <v>", in emission order.
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("urlPath");

    const QString available = QStringLiteral("INFO DW: Update available!");
    const QString none = QStringLiteral("WARN DW: No updates available!");
    const auto offered = [&](const QString &version) {
        return QStringList{available,
                           QStringLiteral("INFO DW: Update version:  \"%1\"").arg(version)};
    };
    const auto notOffered = [&](const QString &version, const QString &why, const QString &name) {
        return QStringList{QStringLiteral("WARN DW: Release %1 is not offered: the file name %2 "
                                          "(file name: %3)")
                               .arg(version, why, name),
                           none};
    };
    const auto emitted = [](const QString &name, const QString &version) {
        return QStringList{QStringLiteral("fetched ") + name, QStringLiteral("version ") + version};
    };

    QTest::newRow("empty array") << QByteArray("[]") << false << QStringList() << QStringList()
                                 << QString() << QString();
    QTest::newRow("one release")
        << QByteArray(R"([{"file_name":"fw-1.5.0.tvq","version":"1.5.0","total_file_size":"9",
                          "release_date":"2026-01-02","code_name":"Cedar","uuid":"u-1"}])")
        << false << emitted("fw-1.5.0.tvq", "1.5.0") << offered("1.5.0")
        << QStringLiteral("fw-1.5.0.tvq") << QStringLiteral("/releases/fw-1.5.0.tvq");
    // Each element is announced in array order; the last one wins.
    QTest::newRow("three in order")
        << QByteArray(R"([{"file_name":"a.tvq","version":"1.3.0"},
                          {"file_name":"b.tvq","version":"1.5.0"},
                          {"file_name":"c.tvq","version":"1.4.0"}])")
        << false
        << emitted("a.tvq", "1.3.0") + emitted("b.tvq", "1.5.0") + emitted("c.tvq", "1.4.0")
        << offered("1.3.0") + offered("1.5.0") + offered("1.4.0") << QStringLiteral("c.tvq")
        << QStringLiteral("/releases/c.tvq");
    QByteArray thousands = "[";
    QStringList thousandsEvents;
    QStringList thousandsLog;
    for (int i = 0; i < 5000; ++i) {
        const QString name = QStringLiteral("fw-%1.tvq").arg(i);
        const QString version = QStringLiteral("1.%1.0").arg(i);
        thousands += QStringLiteral(R"(%1{"file_name":"%2","version":"%3","uuid":"%4"})")
                         .arg(QLatin1String(i ? "," : ""), name, version)
                         .arg(i)
                         .toUtf8();
        thousandsEvents += emitted(name, version);
        thousandsLog += offered(version);
    }
    QTest::newRow("thousands of releases")
        << thousands + "]" << false << thousandsEvents << thousandsLog
        << QStringLiteral("fw-4999.tvq") << QStringLiteral("/releases/fw-4999.tvq");
    QTest::newRow("http 404") << QByteArray() << true << QStringList() << QStringList() << QString()
                              << QString();
    QTest::newRow("top-level object")
        << QByteArray(R"({"file_name":"fw.tvq","version":"1.5.0"})") << false << QStringList()
        << QStringList() << QString() << QString();
    QTest::newRow("not json") << QByteArray("Service Unavailable") << false << QStringList()
                              << QStringList() << QString() << QString();
    QTest::newRow("numeric version")
        << QByteArray(R"([{"file_name":"fw.tvq","version":150}])") << false << emitted("fw.tvq", "")
        << offered("") << QStringLiteral("fw.tvq") << QStringLiteral("/releases/fw.tvq");
    // A release without a usable file name is not offered: nothing could be saved safely.
    QTest::newRow("missing file name")
        << QByteArray(R"([{"version":"1.5.0"}])") << false << emitted("", "1.5.0")
        << notOffered("1.5.0", "is empty", "") << QString() << QString();
    QTest::newRow("path traversal")
        << QByteArray(R"([{"file_name":"../../.bashrc","version":"1.5.1"}])") << false
        << emitted("", "1.5.1") << notOffered("1.5.1", "holds a path separator", "../../.bashrc")
        << QString() << QString();
    QTest::newRow("absolute path")
        << QByteArray(R"([{"file_name":"/etc/cron.d/x","version":"1.5.2"}])") << false
        << emitted("", "1.5.2") << notOffered("1.5.2", "is an absolute path", "/etc/cron.d/x")
        << QString() << QString();
    QTest::newRow("good release after a bad one")
        << QByteArray(R"([{"file_name":"..","version":"1.0.0"},
                          {"file_name":"fw.tvq","version":"1.1.0"}])")
        << false << emitted("", "1.0.0") + emitted("fw.tvq", "1.1.0")
        << notOffered("1.0.0", "holds \"..\"", "..") + offered("1.1.0") << QStringLiteral("fw.tvq")
        << QStringLiteral("/releases/fw.tvq");
}

void TestCatalogue::catalogueFromServer()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, notFound);
    QFETCH(QStringList, events);
    QFETCH(QStringList, log);
    QFETCH(QString, fileName);
    QFETCH(QString, urlPath);

    ReleaseServer server;
    if (!notFound)
        server.setCatalogue(body);
    Downloader downloader(server.baseUrl());
    QStringList seen;
    // The availability check runs inside each emission and sees that element's fields.
    connect(&downloader, &Downloader::releasesJsonFetched, &downloader,
            [&] { seen.append(QStringLiteral("fetched ") + downloader.fileName); });
    connect(&downloader, &Downloader::latestVersionFetched, &downloader,
            [&](const QString &version) { seen.append(QStringLiteral("version ") + version); });
    connect(&downloader, &Downloader::releasesJsonFetched, &downloader,
            UpdateAvailabilityCheck{&downloader}, Qt::DirectConnection);
    QSignalSpy versionCheck(&downloader, &Downloader::versionCheck);
    LogCapture capture;
    QVERIFY(fetchCatalogue(downloader));

    QCOMPARE(seen, events);
    QCOMPARE(capture.lines(), log);
    QCOMPARE(downloader.fileName, fileName);
    QCOMPARE(downloader.downloadUrl,
             urlPath.isEmpty() ? QString() : server.baseUrl().toString() + urlPath);
    QCOMPARE(versionCheck.size(), 0);
    QCOMPARE(server.requestCount("GET", QStringLiteral("releases.json")), 1);
}

void TestCatalogue::instrumentVersionChangesNothing()
{
    ReleaseServer server;
    server.setCatalogue(R"([{"file_name":"fw.tvq","version":"1.5.0"}])");
    Downloader downloader(server.baseUrl());
    QVERIFY(fetchCatalogue(downloader));
    QSignalSpy versionCheck(&downloader, &Downloader::versionCheck);
    QSignalSpy latest(&downloader, &Downloader::latestVersionFetched);
    const QString urlBefore = downloader.downloadUrl;
    for (const char *instrument : {"1.5.0", "1.6.0", "0.9.0", ""})
        downloader.tovikReceivedVersion(QString::fromLatin1(instrument));
    QCOMPARE(versionCheck.size(), 0);
    QCOMPARE(latest.size(), 0);
    QCOMPARE(downloader.downloadUrl, urlBefore);
    QCOMPARE(downloader.version, QStringLiteral("1.5.0"));
}

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
