#include "SiteServer.h"

#include <httplib.h>

namespace chenglan::sample {

SiteServer::SiteServer(const SampleSite &site, ServerLimits limits) : m_server(std::make_unique<httplib::Server>()) {
    const auto handler = [&site](const httplib::Request &request, httplib::Response &response) {
        QMultiMap<QString, QString> query;
        for (const auto &[key, value] : request.params)
            query.insert(QString::fromStdString(key), QString::fromStdString(value));
        Reply reply;
        try {
            reply = site.answer(QString::fromStdString(request.path), query);
        } catch (const std::exception &e) {
            reply = {500, QByteArrayLiteral("text/plain; charset=utf-8"), QByteArray("internal error: ") + e.what()};
        }
        // Pages go out uncompressed: the library would gzip them for any
        // client that accepts it, which on loopback costs the stand-in site
        // more time than the bytes it saves, and that cost is not the client's.
        const_cast<httplib::Request &>(request).headers.erase("Accept-Encoding");
        response.status = reply.status;
        response.set_content(reply.body.constData(), size_t(reply.body.size()), reply.contentType.toStdString());
    };
    m_server->Get(".*", handler);
    m_server->Post(".*", handler);
    // A POST with neither Content-Length nor Transfer-Encoding has an empty
    // body; the library would instead read one until the connection ends and
    // answer 400 when its read timeout comes first.
    m_server->set_pre_routing_handler([handler](const httplib::Request &request, httplib::Response &response) {
        if (request.method != "POST" || request.has_header("Content-Length") || request.has_header("Transfer-Encoding"))
            return httplib::Server::HandlerResponse::Unhandled;
        handler(request, response);
        return httplib::Server::HandlerResponse::Handled;
    });
    // Headers and body go out in separate writes; without this the second
    // waits for the client's delayed acknowledgement (about 40 ms a page).
    m_server->set_tcp_nodelay(true);
    m_server->set_read_timeout(limits.readTimeout);
    m_server->set_write_timeout(limits.writeTimeout);
    m_server->set_keep_alive_timeout(limits.keepAliveTimeout.count());
    m_server->set_keep_alive_max_count(limits.keepAliveRequests);
    m_server->set_payload_max_length(limits.payloadBytes);
}

SiteServer::~SiteServer() { stop(); }

int SiteServer::bind(int port) {
    if (port == 0)
        return m_server->bind_to_any_port("127.0.0.1");
    return m_server->bind_to_port("127.0.0.1", port) ? port : -1;
}

bool SiteServer::listen() { return m_server->listen_after_bind(); }

void SiteServer::stop() {
    if (m_server && m_server->is_running())
        m_server->stop();
}

} // namespace chenglan::sample
