#include "RecordingDouble.h"

QStringList RecordingDouble::calls() const
{
    return recorded;
}

int RecordingDouble::callCount(const QString &name) const
{
    return static_cast<int>(recorded.count(name));
}

void RecordingDouble::clearCalls()
{
    recorded.clear();
    emit callsChanged();
}

void RecordingDouble::record(const QString &name)
{
    recorded.append(name);
    emit callsChanged();
}
