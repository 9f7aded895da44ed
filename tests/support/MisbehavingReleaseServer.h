#pragma once

#include "tests/support/ServerRules.h"

#include <memory>

// A loopback release server of a test's own, with its rules at hand; in TLS mode it speaks
// HTTPS with a throw-away self-signed certificate for 127.0.0.1.
class MisbehavingReleaseServer : public ReleaseServer, public ServerRules
{
public:
    enum class Mode { Plain, Tls };

    explicit MisbehavingReleaseServer(Mode mode = Mode::Plain);

    // TLS mode: the certificate (PEM) a client would have to trust.
    QString certificatePath() const;

private:
    struct Credentials;
    explicit MisbehavingReleaseServer(std::shared_ptr<Credentials> credentials);
    static ReleaseListener::SocketMaker tlsSockets(std::shared_ptr<Credentials> credentials);

    std::shared_ptr<Credentials> tls;
};
