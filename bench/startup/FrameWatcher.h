#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>

class QQuickWindow;

// Lives inside the measured program (loaded as a Qt generic plugin, so the program itself is
// not changed): notes when the first Qt Quick frame was swapped, relative to the launch time
// the bench driver passed in, then lets the program settle, records its peak memory and quits.
class FrameWatcher : public QObject
{
    Q_OBJECT
public:
    explicit FrameWatcher(QObject *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void watch(QQuickWindow *window);
    void onFrameSwapped();
    void finish();

    std::int64_t launchNs = 0;
    std::int64_t createdNs = 0;
    std::atomic<std::int64_t> firstFrameNs{0};
    std::atomic<std::int64_t> firstFrameCpuNs{0};
    QString outputPath;
    bool watching = false;
};
