#pragma once

#include <QByteArray>
#include <QString>

// The parts of an HTTP/1.1 request head the test server looks at.
struct HttpRequestHead
{
    bool valid = false;
    QByteArray method;
    QString path;
    bool acceptsDeflate = false;
    bool keepAlive = true;
};

// Parses one request head (request line and headers, without the final blank line).
HttpRequestHead parseRequestHead(const QByteArray &head);
