#include "release/VersionOrder.h"

#include <QList>
#include <QStringView>

namespace {
// The leading digits of a part without leading zeros ("0" for zero), or a null view when the
// part has no leading digit.
QStringView leadingNumber(QStringView part)
{
    part = part.trimmed();
    qsizetype digits = 0;
    while (digits < part.size() && part.at(digits).isDigit() && part.at(digits).unicode() < 0x80)
        ++digits;
    if (digits == 0)
        return {};
    QStringView number = part.first(digits);
    while (number.size() > 1 && number.front() == QLatin1Char('0'))
        number = number.sliced(1);
    return number;
}
} // namespace

int compareFirmwareVersions(const QString &left, const QString &right)
{
    const QList<QStringView> a = QStringView(left).split(QLatin1Char('.'));
    const QList<QStringView> b = QStringView(right).split(QLatin1Char('.'));
    const QStringView zero = u"0";
    for (qsizetype i = 0; i < qMax(a.size(), b.size()); ++i) {
        const QStringView l = i < a.size() ? leadingNumber(a.at(i)) : zero;
        const QStringView r = i < b.size() ? leadingNumber(b.at(i)) : zero;
        if (l.isNull() || r.isNull())
            continue;
        // Without leading zeros the longer number is the larger one; equal lengths compare as text.
        const int order = l.size() != r.size() ? (l.size() < r.size() ? -1 : 1) : l.compare(r);
        if (order != 0)
            return order < 0 ? -1 : 1;
    }
    return 0;
}

bool isKnownFirmwareVersion(const QString &version)
{
    return !leadingNumber(QStringView(version).split(QLatin1Char('.')).value(0)).isNull();
}
