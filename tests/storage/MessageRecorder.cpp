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
    if (type == QtWarningMsg) {
        QMutexLocker lock(&self->mutex);
        self->recorded.append(text);
    }
    if (self->previous)
        self->previous(type, context, text);
}

QStringList MessageRecorder::warnings() const
{
    QMutexLocker lock(&mutex);
    return recorded;
}

void MessageRecorder::clear()
{
    QMutexLocker lock(&mutex);
    recorded.clear();
}
