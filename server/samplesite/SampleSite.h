#pragma once

#include "World.h"

#include <QByteArray>
#include <QMultiMap>
#include <QString>

#include <functional>

namespace chenglan::sample {

struct Reply {
    int status = 200;
    QByteArray contentType;
    QByteArray body;
};

// The three invented websites and the server list, answered from one world.
// Pure request -> reply, so it can be exercised without sockets; SiteServer
// puts it behind HTTP.
class SampleSite {
public:
    using Clock = std::function<Minutes()>;

    // `serviceUrl` is what the server-list link files name.
    SampleSite(World world, Clock clock, QString serviceUrl);

    // The clock that stands still at noon of `today` (site time), for tests
    // and reproducible runs; and the real clock in site time (UTC+8).
    static Clock fixedClock(const QDate &today);
    static Clock realClock();

    // `path` is the decoded path; query keys may come in any case.
    Reply answer(const QString &path, const QMultiMap<QString, QString> &query) const;

    const World &world() const { return m_world; }
    Minutes now() const { return m_clock(); }

private:
    Reply jingcai(const QMultiMap<QString, QString> &query) const;
    Reply beidan(const QMultiMap<QString, QString> &query) const;
    Reply analysis(const QString &idText) const;
    Reply detail(const QString &idText, int company) const;
    Reply index() const;

    World m_world;
    Clock m_clock;
    QString m_serviceUrl;
};

// The generic answer for an address the site does not know.
Reply notFoundReply();

} // namespace chenglan::sample
