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

    QStringList calls() const;
    Q_INVOKABLE int callCount(const QString &name) const;
    Q_INVOKABLE void clearCalls();

signals:
    void callsChanged();

protected:
    void record(const QString &name);

private:
    QStringList recorded;
};
