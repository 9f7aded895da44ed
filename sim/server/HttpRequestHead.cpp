#include "sim/server/HttpRequestHead.h"

#include <QList>
#include <QUrl>

HttpRequestHead parseRequestHead(const QByteArray &head)
{
    HttpRequestHead result;
    const QList<QByteArray> lines = head.split('\n');
    if (lines.isEmpty())
        return result;
    const QList<QByteArray> parts = lines.first().trimmed().split(' ');
    if (parts.size() != 3 || !parts.at(2).startsWith("HTTP/1."))
        return result;
    result.method = parts.at(0);
    result.path = QUrl::fromPercentEncoding(parts.at(1));
    result.keepAlive = parts.at(2) != "HTTP/1.0";
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed().toLower();
        if (name == "accept-encoding")
            result.acceptsDeflate = value.contains("deflate");
        else if (name == "connection")
            result.keepAlive = value != "close";
    }
    result.valid = !result.method.isEmpty() && result.path.startsWith(QLatin1Char('/'));
    return result;
}
