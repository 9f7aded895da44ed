#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class Downloader;

// Deterministic, incompressible-looking bytes, different for every seed.
QByteArray firmwareBytes(qsizetype size, quint32 seed);

// The temporary directory when it is this test's private one (TMPDIR set by the test
// registration), otherwise empty: downloads land there and tests empty it.
QString privateTempDir();
// Removes everything inside the directory.
bool emptyDirectory(const QString &path);

// Requests the catalogue and waits until its reply is done (also when it brings nothing).
bool fetchCatalogue(Downloader &downloader, int timeoutMs = 10000);

// Records every outcome signal of a Downloader in emission order, e.g.
// "status true Download completed", "finished true /tmp/x/fw.tvq fw.tvq", "transfer true".
class OutcomeRecorder : public QObject
{
    Q_OBJECT
public:
    explicit OutcomeRecorder(Downloader *downloader);

    QStringList events;
    QList<qint64> progress;
    // Waits until setDeviceToTransferMode has been emitted `count` times in total.
    bool waitForTransferSignals(int count, int timeoutMs);

signals:
    void transferSignalled();

private:
    int transferSignals = 0;
};
