#pragma once

#include <QString>
#include <QStringList>

// Regular-expression pieces shared by the tests that read a child's log back.
namespace LogExpect {

// "yyyy-MM-dd HH:mm:ss.zzz"
inline const QString timestamp =
    QStringLiteral("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}");

// Whether every line matches its pattern (anchored at both ends) and the counts agree; on a
// mismatch, a description of the first difference.
QString mismatch(const QStringList &lines, const QStringList &patterns);

// The eight header lines the child (version "9.8.7") writes for its log file at logPath.
QStringList headerPatterns(const QString &logPath);

} // namespace LogExpect
