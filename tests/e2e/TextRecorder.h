#pragma once

#include <QMetaMethod>
#include <QMetaProperty>
#include <QObject>
#include <QStringList>

// Keeps every value a QML item's "text" takes, so that a test sees texts that were shown only
// for a moment.
class TextRecorder : public QObject
{
    Q_OBJECT
public:
    explicit TextRecorder(QObject *item)
        : watched(item)
    {
        const QMetaObject *meta = item->metaObject();
        const QMetaProperty text = meta->property(meta->indexOfProperty("text"));
        const int slot = metaObject()->indexOfSlot("record()");
        connect(item, text.notifySignal(), this, metaObject()->method(slot));
        record();
    }

    QStringList texts;

public slots:
    void record() { texts << watched->property("text").toString(); }

private:
    QObject *watched;
};
