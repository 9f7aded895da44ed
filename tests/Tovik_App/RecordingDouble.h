#pragma once

#include <QObject>
#include <QStringList>

// Base of the window's test doubles: every invokable the window calls is recorded by name, in
// call order, so a test can assert exactly which calls a button made.
class RecordingDouble : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList calls MEMBER calls)
public:
    using QObject::QObject;

    Q_INVOKABLE int callCount(const QString &name) const { return int(calls.count(name)); }

    QStringList calls;

protected:
    void record(const QString &name) { calls.append(name); }
};
