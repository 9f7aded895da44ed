#include "MessageRecorder.h"

#include <QMutexLocker>

#include <atomic>

namespace {
std::atomic<MessageRecorder *> active{nullptr};
}

MessageRecorder::MessageRecorder()
{
    active.store(this);
    previous = qInstallMessageHandler(&MessageRecorder::handler);
}

MessageRecorder::~MessageRecorder()
{
    qInstallMessageHandler(previous);
    active.store(nullptr);
}

void MessageRecorder::handler(QtMsgType type, const QMessageLogContext &context,
                              const QString &text)
{
    MessageRecorder *self = active.load();
    if (!self)
        return;
    if (type == QtWarningMsg || type == QtInfoMsg) {
        QMutexLocker lock(&self->mutex);
        if (type == QtWarningMsg)
            self->recorded.append(text);
        self->all.append(text);
    }
    if (self->previous)
        self->previous(type, context, text);
}

QStringList MessageRecorder::warnings() const
{
    QMutexLocker lock(&mutex);
    return recorded;
}

QStringList MessageRecorder::notesAndWarnings() const
{
    QMutexLocker lock(&mutex);
    return all;
}

void MessageRecorder::clear()
{
    QMutexLocker lock(&mutex);
    recorded.clear();
    all.clear();
}
