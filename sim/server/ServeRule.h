#pragma once

#include <QByteArray>
#include <QtGlobal>

// How the test server answers for one file (or the catalogue): the misbehaviours that a real
// release server, proxy or network can show.
struct ServeRule
{
    enum class Head {
        Normal,          // 200 with the file's Content-Length
        Refuse405,       // 405 Method Not Allowed
        NoContentLength, // 200 without Content-Length
        Stall,           // never answers; the connection stays open
        ZeroLength,      // 200 with "Content-Length: 0", whatever the file's size
    };
    enum class Body {
        Normal,         // 200 with Content-Length and the whole file
        NotFound404,    // 404 with a small HTML error page
        ShortThenClose, // Content-Length of the whole file, only cutAfter bytes, then a clean close
        DropMidBody,    // Content-Length of the whole file, cutAfter bytes, then a reset
        Chunked,        // chunked transfer encoding, no Content-Length
        Trickle,        // trickleBytes every trickleIntervalMs, correct Content-Length
        Stall,          // headers and cutAfter bytes, then silence with the connection open
        Deflate, // compressed when the client accepts it; Content-Length of the compressed body
        // 200 without Content-Length, the body (only cutAfter bytes when that is positive)
        // ends when the connection closes
        NoContentLength,
        ChunkedWrongLength, // chunked (which frames the body) plus a Content-Length of
                            // announcedLength
        Redirect,           // 302 to location
        NoContent204,       // 204 No Content: headers, no body
    };

    Head head = Head::Normal;
    Body body = Body::Normal;
    // How many GET requests get the body misbehaviour before the file is served normally;
    // -1 means every one.
    int times = -1;
    qint64 cutAfter = 0;
    int trickleBytes = 1024;
    int trickleIntervalMs = 1000;
    qint64 announcedLength = 0;
    QByteArray location{};
};
