#include "LogCapture.h"
#include "ReleaseTestSupport.h"

#include "release/CatalogueReader.h"
#include "release/UpdateAvailabilityCheck.h"

#include <QTest>

// The catalogue: its reading rules, the availability log, and the file names it may offer.
class TestCatalogue : public QObject
{
    Q_OBJECT
private slots:
    void judgesFileNames_data();
    void judgesFileNames();
    void catalogueFromServer_data();
    void catalogueFromServer();
};

void TestCatalogue::judgesFileNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("safe");

    QTest::newRow("plain") << QStringLiteral("tovik-1.5.0.tvq") << true;
    QTest::newRow("double dot inside") << QStringLiteral("fw..tvq") << true;
    QTest::newRow("hash, query and blank") << QStringLiteral("fw #2?.tvq") << true;
    QTest::newRow("unc") << QStringLiteral("\\\\host\\share\\fw.tvq") << false;
    QTest::newRow("drive relative") << QStringLiteral("C:evil.tvq") << false;
    QTest::newRow("parent dir") << QStringLiteral("..") << false;
    QTest::newRow("stream") << QStringLiteral("fw.tvq:hidden") << false;
    QTest::newRow("nul") << QStringLiteral("fw.tvq") + QChar(0) + QStringLiteral("x") << false;
    QTest::newRow("C1 control") << QStringLiteral("fw\u0085.tvq") << false;
    QTest::newRow("device with extension") << QStringLiteral("Con.tvq") << false;
    QTest::newRow("device") << QStringLiteral("lpt1") << false;
    QTest::newRow("trailing dot") << QStringLiteral("fw.tvq.") << false;
    QTest::newRow("trailing blank") << QStringLiteral("fw.tvq ") << false;
}

void TestCatalogue::judgesFileNames()
{
    QFETCH(QString, name);
    QFETCH(bool, safe);

    QCOMPARE(unsafeFileNameReason(name).isEmpty(), safe);
    QCOMPARE(releaseDownloadUrl(QStringLiteral("https://x.example"), name).isEmpty(), !safe);
}

void TestCatalogue::catalogueFromServer_data()
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
    // The downloader itself warns before it announces the element.
    const auto notOffered = [](const QString &version, const QString &why, const QString &name) {
        return QStringList{QStringLiteral("WARN DW: Release %1 is not offered: the file name %2 "
                                          "(file name: %3)")
                               .arg(version, why, name),
                           "INFO fetched ", "WARN DW: No updates available!",
                           "INFO version " + version};
    };

    QTest::newRow("empty array") << QByteArray("[]") << QStringList() << QString() << QString();
    // Each element is announced in array order; the last one wins.
    QTest::newRow("three in order")
        << QByteArray(R"([{"file_name":"a.tvq","version":"1.3.0","total_file_size":"10"},
                          {"file_name":"b.tvq","version":"1.5.0","total_file_size":"20"},
                          {"file_name":"c.tvq","version":"1.4.0","total_file_size":"30"}])")
        << offered("a.tvq", "1.3.0") + offered("b.tvq", "1.5.0") + offered("c.tvq", "1.4.0")
        << QStringLiteral("c.tvq") << QStringLiteral("30");
    QByteArray thousands = "[";
    QStringList thousandsLog;
    for (int i = 0; i < 5000; ++i) {
        const QString name = QStringLiteral("fw-%1.tvq").arg(i);
        const QString version = QStringLiteral("1.%1.0").arg(i);
        thousands += QStringLiteral(R"(%1{"file_name":"%2","version":"%3"})")
                         .arg(QLatin1String(i ? "," : ""), name, version)
                         .toUtf8();
        thousandsLog += offered(name, version);
    }
    QTest::newRow("thousands of releases")
        << thousands + "]" << thousandsLog << QStringLiteral("fw-4999.tvq") << QString();
    QTest::newRow("http 404") << QByteArray() << QStringList() << QString() << QString();
    QTest::newRow("top-level object") << QByteArray(R"({"file_name":"fw.tvq","version":"1.5.0"})")
                                      << QStringList() << QString() << QString();
    QTest::newRow("numbers instead of strings")
        << QByteArray(R"([{"file_name":"fw.tvq","version":150,"total_file_size":1024}])")
        << offered("fw.tvq", "") << QStringLiteral("fw.tvq") << QString();
    // A release without a usable file name is not offered: nothing could be saved safely.
    QTest::newRow("element not an object")
        << QByteArray(R"([5, {"file_name":"fw.tvq","version":"2","total_file_size":"7"}])")
        << notOffered("", "is empty", "") + offered("fw.tvq", "2") << QStringLiteral("fw.tvq")
        << QStringLiteral("7");
    QTest::newRow("path traversal")
        << QByteArray(R"([{"file_name":"../../.bashrc","version":"1.5.1"}])")
        << notOffered("1.5.1", "holds a path separator", "../../.bashrc") << QString() << QString();
    QTest::newRow("good release after a bad one")
        << QByteArray(R"([{"file_name":"..","version":"1.0.0"},
                          {"file_name":"fw #1.tvq","version":"1.1.0"}])")
        << notOffered("1.0.0", "names a directory", "..") + offered("fw #1.tvq", "1.1.0")
        << QStringLiteral("fw #1.tvq") << QString();
    // Whatever the server sends stays on one log line.
    QTest::newRow("forged log line")
        << QByteArray(R"([{"file_name":"a\nWARN DW: Update available!","version":"1\r\\"}])")
        << notOffered("1\\x0d\\\\", "holds a control character", "a\\x0aWARN DW: Update available!")
               .replaceInStrings("INFO version 1\\x0d\\\\", "INFO version 1\r\\")
        << QString() << QString();
}

void TestCatalogue::catalogueFromServer()
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
    LogCapture capture;
    QVERIFY(fetchCatalogue(downloader));

    QCOMPARE(capture.lines(), log);
    QCOMPARE(downloader.fileName, fileName);
    QCOMPARE(downloader.totalFileSize, size);
    // The name is one path segment of the URL, whatever it holds.
    QCOMPARE(QUrl(downloader.downloadUrl).fileName(), fileName);
    QCOMPARE(downloader.downloadUrl.isEmpty(), fileName.isEmpty());
}

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
