#pragma once

#include "sim/server/ReleaseServer.h"
#include "tests/support/ServeRule.h"

#include <QHash>
#include <QMutex>

// The misbehaviours tests give a release server (their own or the world's), one rule per file
// name ("releases.json" is the catalogue), and a count of the requests that reached it.
class ServerRules : public ReleaseServerState::Responder
{
public:
    explicit ServerRules(ReleaseServer &server);
    ~ServerRules() override;

    void setRule(const QString &name, const ServeRule &rule);
    // How many requests of this method ("GET", "HEAD") reached "/releases/<name>".
    int requestCount(const QByteArray &method, const QString &name) const;

    bool answer(ServerConnection &connection, const HttpRequestHead &head,
                const ReleaseServerState::Entry &entry) override;

private:
    struct Rule
    {
        ServeRule rule;
        int remainingTimes = -1; // GETs still to get the body misbehaviour
    };

    ReleaseServer &ruled;
    mutable QMutex rulesMutex;
    QHash<QString, Rule> rules;
    QHash<QString, int> counts;
};
