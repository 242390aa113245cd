#include "support/FakeWeb.h"
#include "net/PageCache.h"
#include "net/RecordingWeb.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>

using namespace chenglan;
using chenglan::testing::FakeWeb;

namespace {

const QString kPage = QStringLiteral("http://zq.test/analysis/1920011cn.htm");
const QByteArray kBody = QByteArrayLiteral("<html><body>\xd6\xd0\xce\xc4 page</body></html>");

HttpRequest request(const QString &url, HttpRequest::Lifetime lifetime) {
    HttpRequest r{HttpRequest::Method::Get, url, {}};
    r.lifetime = lifetime;
    return r;
}
HttpRequest finalGet(const QString &url = kPage) { return request(url, HttpRequest::Lifetime::Final); }
HttpRequest changingGet(const QString &url = kPage) { return request(url, HttpRequest::Lifetime::Changing); }

QString onlyEntry(const QString &dir) {
    const QStringList files = QDir(dir).entryList({QStringLiteral("*.page")}, QDir::Files);
    return files.size() == 1 ? QDir(dir).filePath(files.first()) : QString();
}

void rewrite(const QString &path, const std::function<void(QByteArray &)> &damage) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    file.close();
    damage(bytes);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

} // namespace

// A final page fetched once is read from the folder by a later run, with the
// site unreachable, and the recording of that run marks it as not fetched.
TEST(PageCache, FinalPageComesFromTheCacheWithTheNetworkDown) {
    QTemporaryDir dir;
    {
        FakeWeb site;
        site.add(kPage, kBody, 200, "text/html; charset=gb2312");
        CachingWeb web(site, std::make_shared<PageCache>(dir.path()));
        ASSERT_TRUE(web.fetch(finalGet()).ok());
        EXPECT_EQ(site.requests.size(), 1);
    }
    FakeWeb down; // refuses everything
    auto cache = std::make_shared<PageCache>(dir.path());
    CachingWeb web(down, cache);
    QTemporaryDir recordingDir;
    auto recording = std::make_shared<Recording>(recordingDir.filePath(QStringLiteral("rec")));
    RecordingWeb recorded(web, recording);

    const FetchOutcome outcome = recorded.fetch(finalGet());
    ASSERT_TRUE(outcome.ok()) << outcome.error.toStdString();
    EXPECT_TRUE(down.requests.isEmpty());
    EXPECT_EQ(outcome.response->body, kBody);
    EXPECT_EQ(outcome.response->contentType, "text/html; charset=gb2312");
    EXPECT_EQ(outcome.response->status, 200);
    EXPECT_TRUE(outcome.response->fromCache);
    EXPECT_EQ(cache->counts().hits, 1);
    QFile index(QDir(recording->dir()).filePath(QString::fromLatin1(kRecordingIndex)));
    ASSERT_TRUE(index.open(QIODevice::ReadOnly));
    EXPECT_TRUE(index.readAll().contains("\"cached\":true"));

    // Cancelling still ends every later fetch, a cached one too.
    web.abort();
    EXPECT_EQ(web.fetch(finalGet()).failure, FetchOutcome::Failure::Aborted);
}

// A page that can still change is asked of the site every time; one fetched
// ahead serves the one click that follows, and the next click asks again.
// Error pages and empty answers are never kept, even when asked as final.
TEST(PageCache, PageThatIsNotFinalIsFetchedAgain) {
    QTemporaryDir dir;
    FakeWeb site;
    site.add(kPage, kBody);
    const QString missing = QStringLiteral("http://zq.test/analysis/404cn.htm");
    site.add(missing, "<html>not found</html>", 404);
    const QString empty = QStringLiteral("http://zq.test/analysis/0cn.htm");
    site.add(empty, QByteArray());
    auto cache = std::make_shared<PageCache>(dir.path());
    CachingWeb web(site, cache);

    EXPECT_FALSE(web.fetch(changingGet()).response->fromCache);
    EXPECT_FALSE(web.fetch(changingGet()).response->fromCache);
    EXPECT_EQ(site.requests.size(), 2);

    HttpRequest ahead = changingGet();
    ahead.ahead = true;
    web.fetch(ahead);
    EXPECT_TRUE(web.fetch(ahead).response->fromCache) << "fetching ahead reads what it holds";
    EXPECT_EQ(site.requests.size(), 3);
    EXPECT_TRUE(web.fetch(changingGet()).response->fromCache) << "the click takes what came ahead";
    EXPECT_FALSE(web.fetch(changingGet()).response->fromCache) << "and only once";
    EXPECT_EQ(site.requests.size(), 4);

    web.fetch(finalGet(missing));
    web.fetch(finalGet(missing));
    web.fetch(finalGet(empty));
    web.fetch(finalGet(empty));
    EXPECT_EQ(site.requests.size(), 8);
    EXPECT_EQ(cache->entries(), 0);
}

// Any damage to an entry (a changed byte, a cut end, an empty file, another
// page's entry under this name) drops it: the page is fetched again and the
// site's answer shown, and the entry is whole again afterwards.
TEST(PageCache, DamagedEntryIsFetchedAgain) {
    const QList<std::pair<const char *, std::function<void(QByteArray &)>>> damages = {
        {"a byte changed in the body", [](QByteArray &b) { b[b.size() - 40] = char(b[b.size() - 40] ^ 0x20); }},
        {"the end cut off", [](QByteArray &b) { b.chop(10); }},
        {"empty", [](QByteArray &b) { b.clear(); }},
        {"the checksum changed", [](QByteArray &b) { b[b.size() - 1] = char(b[b.size() - 1] ^ 1); }},
    };
    for (const auto &[what, damage] : damages) {
        SCOPED_TRACE(what);
        QTemporaryDir dir;
        FakeWeb site;
        site.add(kPage, kBody);
        {
            CachingWeb web(site, std::make_shared<PageCache>(dir.path()));
            web.fetch(finalGet());
        }
        const QString entry = onlyEntry(dir.path());
        ASSERT_FALSE(entry.isEmpty());
        rewrite(entry, damage);

        FakeWeb fresh;
        fresh.add(kPage, "<html>fetched again</html>");
        auto cache = std::make_shared<PageCache>(dir.path());
        CachingWeb web(fresh, cache);
        const FetchOutcome outcome = web.fetch(finalGet());
        ASSERT_TRUE(outcome.ok());
        EXPECT_EQ(outcome.response->body, "<html>fetched again</html>");
        EXPECT_FALSE(outcome.response->fromCache);
        EXPECT_EQ(fresh.requests.size(), 1);
        EXPECT_EQ(cache->counts().damaged, 1);

        FakeWeb down;
        CachingWeb later(down, std::make_shared<PageCache>(dir.path()));
        const FetchOutcome again = later.fetch(finalGet());
        ASSERT_TRUE(again.ok());
        EXPECT_EQ(again.response->body, "<html>fetched again</html>");
    }

    // An entry moved under another page's name is not that page.
    QTemporaryDir dir;
    FakeWeb site;
    const QString other = QStringLiteral("http://zq.test/analysis/7cn.htm");
    site.add(kPage, kBody);
    site.add(other, "<html>other</html>");
    {
        CachingWeb web(site, std::make_shared<PageCache>(dir.path()));
        web.fetch(finalGet(other));
        const QString otherEntry = onlyEntry(dir.path());
        web.fetch(finalGet());
        const QStringList both = QDir(dir.path()).entryList({QStringLiteral("*.page")}, QDir::Files);
        ASSERT_EQ(both.size(), 2);
        const QString pageEntry =
            QDir(dir.path()).filePath(both[0] == QFileInfo(otherEntry).fileName() ? both[1] : both[0]);
        QFile::remove(pageEntry);
        QFile::copy(otherEntry, pageEntry);
    }
    FakeWeb again;
    again.add(kPage, kBody);
    CachingWeb web(again, std::make_shared<PageCache>(dir.path()));
    EXPECT_EQ(web.fetch(finalGet()).response->body, kBody);
    EXPECT_EQ(again.requests.size(), 1);
}

// The folder stays within its bound across runs: the page read least
// recently goes first.
TEST(PageCache, LeastRecentlyUsedPageGoesWhenTheFolderIsFull) {
    QTemporaryDir dir;
    FakeWeb site;
    const QByteArray big(3000, 'x');
    for (int i = 0; i < 3; ++i)
        site.add(QStringLiteral("http://zq.test/analysis/%1cn.htm").arg(i), "<html>" + big + "</html>");
    const auto page = [](int i) { return finalGet(QStringLiteral("http://zq.test/analysis/%1cn.htm").arg(i)); };
    constexpr qint64 bound = 8000; // room for two entries
    {
        auto cache = std::make_shared<PageCache>(dir.path(), bound);
        CachingWeb web(site, cache);
        web.fetch(page(0));
        web.fetch(page(1));
        QThread::msleep(20);
        web.fetch(page(0)); // read: now 1 is the least recently used
        EXPECT_EQ(site.requests.size(), 2);
    }
    auto cache = std::make_shared<PageCache>(dir.path(), bound);
    CachingWeb web(site, cache);
    web.fetch(page(2));
    EXPECT_LE(cache->bytes(), bound);
    FakeWeb down;
    CachingWeb offline(down, std::make_shared<PageCache>(dir.path(), bound));
    EXPECT_TRUE(offline.fetch(page(0)).ok());
    EXPECT_TRUE(offline.fetch(page(2)).ok());
    EXPECT_FALSE(offline.fetch(page(1)).ok());
}
