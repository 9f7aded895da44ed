#pragma once

#include <QObject>
#include <QStringList>

// Base of the window's test doubles: every invokable the window calls is recorded by name, in
// call order, so a test can assert exactly which calls a button made.
class RecordingDouble : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList calls READ calls NOTIFY callsChanged)
public:
    using QObject::QObject;

    QStringList calls() const { return recorded; }
    Q_INVOKABLE int callCount(const QString &name) const { return int(recorded.count(name)); }
    Q_INVOKABLE void clearCalls()
    {
        recorded.clear();
        emit callsChanged();
    }

signals:
    void callsChanged();

protected:
    void record(const QString &name)
    {
        recorded.append(name);
        emit callsChanged();
    }

private:
    QStringList recorded;
};
