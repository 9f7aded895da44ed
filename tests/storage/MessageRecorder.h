#pragma once

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

// Captures the program's warnings from every thread while it exists, passing them on to the
// handler that was installed before.
class MessageRecorder
{
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder &) = delete;
    MessageRecorder &operator=(const MessageRecorder &) = delete;

    QStringList warnings() const;
    // Warnings and notes (info) together, in order.
    QStringList notesAndWarnings() const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text);

    mutable QMutex mutex;
    QStringList recorded;
    QStringList all;
    QtMessageHandler previous = nullptr;
};
