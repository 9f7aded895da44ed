#include "LogExpect.h"

#include <QRegularExpression>
#include <QSysInfo>

namespace LogExpect {

QString mismatch(const QStringList &lines, const QStringList &patterns)
{
    for (qsizetype i = 0; i < qMin(lines.size(), patterns.size()); ++i) {
        const QRegularExpression re(QRegularExpression::anchoredPattern(patterns.at(i)));
        if (!re.isValid())
            return QStringLiteral("bad pattern %1").arg(patterns.at(i));
        if (!re.match(lines.at(i)).hasMatch())
            return QStringLiteral("line %1: \"%2\" does not match \"%3\"")
                .arg(i)
                .arg(lines.at(i), patterns.at(i));
    }
    if (lines.size() != patterns.size())
        return QStringLiteral("%1 lines, expected %2:\n%3")
            .arg(lines.size())
            .arg(patterns.size())
            .arg(lines.join(QLatin1Char('\n')));
    return {};
}

QStringList headerPatterns(const QString &logPath)
{
    const auto q = [](const QString &text) {
        return QRegularExpression::escape(text);
    };
    return {QStringLiteral("=== Tovik Updater 9\\.8\\.7 ==="),
            QStringLiteral("started      ") + timestamp,
            QStringLiteral("os           %1 \\(%2\\)")
                .arg(q(QSysInfo::prettyProductName()), q(QSysInfo::kernelVersion())),
            QStringLiteral("build arch   ") + q(QSysInfo::buildCpuArchitecture()),
            QStringLiteral("host arch    ") + q(QSysInfo::currentCpuArchitecture()),
            QStringLiteral("qt runtime   ") + q(QString::fromLatin1(qVersion())),
            QStringLiteral("log file     ") + q(logPath),
            QString()};
}

} // namespace LogExpect
