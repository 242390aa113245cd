#pragma once

// Shared by the libFuzzer targets: an application object for the script
// engine and the decoders, a Web that answers from the fuzz input, short
// renderer limits, and a check that stops the run with a message.
#include "html/PageRenderer.h"
#include "net/Web.h"

#include <QCoreApplication>
#include <QList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace chenglan::fuzzing {

inline void startApplication(int *argc, char ***argv) {
    static QCoreApplication app(*argc, *argv);
}

// Renderer limits short enough that a fuzzed script cannot eat the run.
inline PageRenderer::Limits shortLimits() {
    using namespace std::chrono_literals;
    PageRenderer::Limits limits;
    limits.scriptTime = 20ms;
    limits.pageScriptTime = 60ms;
    limits.writtenChars = 64 * 1024;
    return limits;
}

inline QByteArray bytes(const std::uint8_t *data, std::size_t size) {
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

// The fuzz input cut at `separator` into at most `most` parts.
inline QList<QByteArray> parts(const QByteArray &input, QByteArrayView separator, int most) {
    QList<QByteArray> out;
    qsizetype from = 0;
    while (out.size() + 1 < most) {
        const qsizetype at = input.indexOf(separator, from);
        if (at < 0)
            break;
        out.append(input.mid(from, at - from));
        from = at + separator.size();
    }
    out.append(input.mid(from));
    return out;
}

// Answers every request, whatever its address: the n-th with pages[n], the
// ones past the list with its last page.
class PagesWeb : public Web {
public:
    PagesWeb(QList<QByteArray> pages, QByteArray contentType, int status = 200)
        : m_pages(std::move(pages)), m_contentType(std::move(contentType)), m_status(status) {}
    FetchOutcome fetch(const HttpRequest &request) override {
        HttpResponse r;
        r.status = m_status;
        r.body = m_pages.isEmpty() ? QByteArray() : m_pages.at(std::min(m_served, m_pages.size() - 1));
        r.contentType = m_contentType;
        r.headers.append({"Content-Type", m_contentType});
        r.finalUrl = request.url;
        ++m_served;
        return FetchOutcome::success(std::move(r));
    }
    void abort() override {}
    qsizetype served() const { return m_served; }

private:
    QList<QByteArray> m_pages;
    QByteArray m_contentType;
    int m_status;
    qsizetype m_served = 0;
};

// An invariant that failed: says which, then aborts so libFuzzer keeps the input.
[[noreturn]] inline void fail(const char *what) {
    std::fprintf(stderr, "invariant failed: %s\n", what);
    std::abort();
}
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            ::chenglan::fuzzing::fail(#condition);                                                                     \
    } while (false)

} // namespace chenglan::fuzzing
