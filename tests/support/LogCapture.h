#pragma once

#include <QMutex>
#include <QRegularExpression>
#include <QStringList>

// Collects Qt's messages from every thread while it exists, as "INFO <text>", "WARN <text>",
// "DEBUG <text>" or "CRIT <text>", so tests can assert the exact log texts.
class LogCapture
{
public:
    LogCapture()
    {
        QMutexLocker lock(&state().mutex);
        state().lines.clear();
        previous = qInstallMessageHandler(&capture);
    }
    ~LogCapture() { qInstallMessageHandler(previous); }
    Q_DISABLE_COPY(LogCapture)

    QStringList lines() const
    {
        QMutexLocker lock(&state().mutex);
        return state().lines;
    }
    // The warnings' texts alone.
    QStringList warnings() const
    {
        QStringList texts = lines().filter(QRegularExpression("^WARN "));
        return texts.replaceInStrings(QRegularExpression("^WARN "), QString());
    }

private:
    struct State
    {
        QMutex mutex;
        QStringList lines;
    };
    static State &state()
    {
        static State shared;
        return shared;
    }
    static void capture(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        // In QtMsgType's order: debug, warning, critical, fatal, info.
        static const char *const levels[] = {"DEBUG ", "WARN ", "CRIT ", "CRIT ", "INFO "};
        QMutexLocker lock(&state().mutex);
        state().lines.append(QLatin1String(levels[qBound(0, int(type), 4)]) + text);
    }

    QtMessageHandler previous = nullptr;
};
