#pragma once

#include <QtTest>

// Every emission of the signals it listens to, as "name arg arg" (arguments as QVariant prints
// them: "deviceFound true") with its time on the monotonic clock, in the order they reach the
// recorder's thread: queued from other threads, as the window's connections are.
class SignalRecorder : public QObject
{
    Q_OBJECT
public:
    template<typename Sender, typename... Args>
    void listen(const Sender *sender, void (Sender::*signal)(Args...), const QString &name)
    {
        connect(sender, signal, this,
                [this, name](Args... args) { record(name, {QVariant::fromValue(args)...}); });
    }
    // Every new value of a property with a notify signal: a text shown only for a moment too.
    void listenProperty(QObject *object, const char *property, const QString &name)
    {
        const QMetaProperty watched =
            object->metaObject()->property(object->metaObject()->indexOfProperty(property));
        properties.insert(object, {name, watched});
        connect(object, watched.notifySignal(), this,
                metaObject()->method(metaObject()->indexOfSlot("propertyChanged()")));
    }

    // Now, on the monotonic clock of QElapsedTimer::msecsSinceReference().
    static qint64 nowMs() { return QDeadlineTimer::current().deadline(); }
    int count(const QString &name) const { return int(names.count(name)); }
    // The first argument of every emission, as a number.
    QList<qint64> numbers() const
    {
        QList<qint64> values;
        for (const QVariantList &args : arguments)
            values << args.value(0).toLongLong();
        return values;
    }
    // When the n-th emission of that name came, -1 if it has not.
    qint64 timeOf(const QString &name, int n = 0) const
    {
        for (qsizetype i = names.indexOf(name); i >= 0; i = names.indexOf(name, i + 1)) {
            if (n-- == 0)
                return times[i];
        }
        return -1;
    }
    // Runs a spy's event loop, never a sleeping poll: the emitters' timers must fire on time.
    bool waitFor(const QString &name, int wanted, int timeoutMs)
    {
        QSignalSpy spy(this, &SignalRecorder::recorded);
        QElapsedTimer timer;
        timer.start();
        while (count(name) < wanted && timer.elapsed() < timeoutMs)
            spy.wait(int(timeoutMs - timer.elapsed()));
        return count(name) >= wanted;
    }

    QStringList events, names;
    QList<qint64> times;
    QList<QVariantList> arguments;

signals:
    void recorded();

private slots:
    void propertyChanged()
    {
        const auto &[name, property] = properties.value(sender());
        record(name, {property.read(sender())});
    }

private:
    void record(const QString &name, const QVariantList &args)
    {
        QStringList parts{name};
        for (const QVariant &arg : args)
            parts << arg.toString();
        events << parts.join(QLatin1Char(' '));
        names << name;
        times << nowMs();
        arguments << args;
        emit recorded();
    }

    QHash<QObject *, std::pair<QString, QMetaProperty>> properties;
};
