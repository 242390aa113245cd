#include "support/FakeWeb.h"
#include "support/ScriptedWeb.h"
#include "net/RecordingWeb.h"
#include "net/ReplayWeb.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace chenglan;
using chenglan::testing::FakeWeb;
using chenglan::testing::ScriptedWeb;
using Failure = FetchOutcome::Failure;

namespace {

HttpRequest get(const QString &url) { return {HttpRequest::Method::Get, url, {}}; }
HttpRequest post(const QString &url) { return {HttpRequest::Method::Post, url, {}}; }

void expectSame(const FetchOutcome &replayed, const FetchOutcome &original) {
    ASSERT_EQ(replayed.ok(), original.ok()) << replayed.error.toStdString();
    EXPECT_EQ(replayed.failure, original.failure);
    EXPECT_EQ(replayed.error, original.error);
    if (!original.ok())
        return;
    EXPECT_EQ(replayed.response->status, original.response->status);
    EXPECT_EQ(replayed.response->body, original.response->body);
    EXPECT_EQ(replayed.response->contentType, original.response->contentType);
    EXPECT_EQ(replayed.response->headers, original.response->headers);
    EXPECT_EQ(replayed.response->finalUrl, original.response->finalUrl);
}

QByteArray everyByte() {
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes + "\r\n\xd6\xd0\xce\xc4"; // and GB18030 text
}

QList<QByteArray> indexLines(const QString &dir) {
    QFile index(QDir(dir).filePath(QString::fromLatin1(kRecordingIndex)));
    if (!index.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = index.readAll().split('\n');
    lines.removeAll(QByteArray());
    return lines;
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

const QString kPage = QStringLiteral("http://odds.test/buy/Jingcai.aspx?date=2024-05-01");

} // namespace

TEST(RecordingWeb, ReplayGivesTheRecordedAnswersByteForByte) {
    ScriptedWeb site;
    site.then(kPage, 200, everyByte(),
              {{"Content-Type", "text/html; charset=gb2312"}, {"Set-Cookie", "a=1"}, {"Set-Cookie", "b=2"},
               {"X-Latin", "caf\xe9"}});
    site.then(kPage, 201, "posted", {{"Content-Type", "text/plain"}}, HttpRequest::Method::Post);
    site.then(QStringLiteral("http://odds.test/gone"), 404, "<html>not found</html>", {{"Content-Type", "text/html"}});
    site.then(QStringLiteral("http://odds.test/empty"), 200, QByteArray());
    site.then(QStringLiteral("http://odds.test/slow"),
              FetchOutcome::failed(Failure::Timeout, QStringLiteral("no answer within 20 s")));
    const QList<HttpRequest> requests = {get(kPage),
                                         post(kPage),
                                         get(QStringLiteral("http://odds.test/gone")),
                                         get(QStringLiteral("http://odds.test/empty")),
                                         get(QStringLiteral("http://odds.test/slow")),
                                         get(QStringLiteral("http://odds.test/refused"))};

    QTemporaryDir tmp;
    const QString dir = tmp.filePath(QStringLiteral("rec"));
    QList<FetchOutcome> originals;
    {
        RecordingWeb recording(site, dir);
        for (const HttpRequest &r : requests)
            originals.append(recording.fetch(r));
        EXPECT_EQ(recording.recording()->error(), QString());
        EXPECT_EQ(recording.recording()->count(), requests.size());
    }

    ReplayWeb replay(dir);
    ASSERT_EQ(replay.playback()->error(), QString());
    for (qsizetype i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(requests[i].url.toStdString());
        expectSame(replay.fetch(requests[i]), originals[i]);
    }

    // The folder is readable without the program: one JSON line per exchange,
    // raw bodies beside it.
    const QList<QByteArray> lines = indexLines(dir);
    ASSERT_EQ(lines.size(), requests.size());
    const QJsonObject first = QJsonDocument::fromJson(lines[0]).object();
    EXPECT_EQ(first.value(QLatin1String("seq")).toInt(), 1);
    EXPECT_EQ(first.value(QLatin1String("method")).toString(), QStringLiteral("GET"));
    EXPECT_EQ(first.value(QLatin1String("url")).toString(), kPage);
    EXPECT_EQ(first.value(QLatin1String("body")).toString(), QStringLiteral("0001.body"));
    EXPECT_TRUE(lines[0].startsWith("{\"seq\":1,\"time\":"));
    QFile body(QDir(dir).filePath(QStringLiteral("0001.body")));
    ASSERT_TRUE(body.open(QIODevice::ReadOnly));
    EXPECT_EQ(body.readAll(), everyByte());
    const QJsonObject failed = QJsonDocument::fromJson(lines[4]).object();
    EXPECT_EQ(failed.value(QLatin1String("failure")).toString(), QStringLiteral("Timeout"));
    EXPECT_EQ(failed.value(QLatin1String("error")).toString(), QStringLiteral("no answer within 20 s"));
}

TEST(ReplayWeb, SameAddressAnswersInRecordedOrderThenRepeatsTheLast) {
    ScriptedWeb site;
    site.then(kPage, 503, "busy");
    site.then(kPage, 200, "first");
    site.then(kPage, 200, "second");
    QTemporaryDir tmp;
    {
        RecordingWeb recording(site, tmp.path());
        for (int i = 0; i < 3; ++i)
            recording.fetch(get(kPage));
    }
    ReplayWeb replay(tmp.path());
    QList<QByteArray> bodies;
    for (int i = 0; i < 5; ++i)
        bodies.append(replay.fetch(get(kPage)).response.value_or(HttpResponse{}).body);
    EXPECT_EQ(bodies, (QList<QByteArray>{"busy", "first", "second", "second", "second"}));

    // Two jobs replaying one folder share the turns, as they shared the site.
    auto playback = std::make_shared<Playback>(tmp.path());
    ReplayWeb firstJob(playback), secondJob(playback);
    EXPECT_EQ(firstJob.fetch(get(kPage)).response->body, "busy");
    EXPECT_EQ(secondJob.fetch(get(kPage)).response->body, "first");
}

TEST(ReplayWeb, AnswersOnlyWhatWasRecorded) {
    FakeWeb site;
    site.add(kPage, "page");
    site.fail(QStringLiteral("http://odds.test/down"), QStringLiteral("host unreachable"));
    QTemporaryDir tmp;
    {
        RecordingWeb recording(site, tmp.path());
        recording.fetch(get(kPage));
        recording.fetch(get(QStringLiteral("http://odds.test/down")));
    }
    ReplayWeb replay(tmp.path());

    const FetchOutcome missing = replay.fetch(get(QStringLiteral("http://odds.test/other")));
    EXPECT_EQ(missing.failure, Failure::Network);
    EXPECT_EQ(missing.error, QStringLiteral("not in the recording: GET http://odds.test/other"));
    EXPECT_EQ(replay.fetch(post(kPage)).error, QStringLiteral("not in the recording: POST ") + kPage);

    const FetchOutcome down = replay.fetch(get(QStringLiteral("http://odds.test/down")));
    EXPECT_EQ(down.failure, Failure::Network);
    EXPECT_EQ(down.error, QStringLiteral("host unreachable"));

    replay.abort();
    EXPECT_EQ(replay.fetch(get(kPage)).failure, Failure::Aborted);
}

TEST(ReplayWeb, DamagedRecordingSaysWhyInsteadOfAnswering) {
    QTemporaryDir tmp;
    const QString dir = tmp.path();
    const QString index = QDir(dir).filePath(QString::fromLatin1(kRecordingIndex));

    const FetchOutcome none = ReplayWeb(tmp.filePath(QStringLiteral("absent"))).fetch(get(kPage));
    EXPECT_EQ(none.failure, Failure::Network);
    EXPECT_TRUE(none.error.contains(QStringLiteral("no recording in"))) << none.error.toStdString();

    const QByteArray good = "{\"seq\":1,\"method\":\"GET\",\"url\":\"" + kPage.toUtf8()
        + "\",\"status\":200,\"headers\":[],\"body\":\"0001.body\",\"bytes\":4}\n";
    writeFile(QDir(dir).filePath(QStringLiteral("0001.body")), "page");
    writeFile(index, good + "{\"seq\":2,\"method\":\"GET\"\n");
    Playback malformed(dir);
    EXPECT_TRUE(malformed.error().contains(QStringLiteral("line 2"))) << malformed.error().toStdString();
    EXPECT_TRUE(malformed.answer(get(kPage)).error.startsWith(QStringLiteral("cannot replay")));

    // A body outside the folder is never read.
    writeFile(index, QByteArray(good).replace("0001.body", "../secret"));
    EXPECT_TRUE(Playback(dir).error().contains(QStringLiteral("not a file of the folder")));

    // A truncated body is not passed off as the page.
    writeFile(index, good);
    writeFile(QDir(dir).filePath(QStringLiteral("0001.body")), "pa");
    Playback truncated(dir);
    EXPECT_EQ(truncated.error(), QString());
    const FetchOutcome cut = truncated.answer(get(kPage));
    EXPECT_FALSE(cut.ok());
    EXPECT_TRUE(cut.error.contains(QStringLiteral("has 2 bytes, the index says 4"))) << cut.error.toStdString();
}

// A recording comes from someone else's bug report; zip and tar keep
// symbolic links and FIFOs. Nothing but regular files of the folder is read,
// and nothing read can block.
TEST(ReplayWeb, ReadsOnlyRegularFilesOfItsFolder) {
    QTemporaryDir tmp;
    const QString dir = tmp.filePath(QStringLiteral("rec"));
    ASSERT_TRUE(QDir().mkpath(dir));
    const QString secret = tmp.filePath(QStringLiteral("secret"));
    writeFile(secret, "root:x:0:0");
    const QString index = QDir(dir).filePath(QString::fromLatin1(kRecordingIndex));
    const QString body = QDir(dir).filePath(QStringLiteral("0001.body"));
    const QByteArray line = "{\"seq\":1,\"method\":\"GET\",\"url\":\"" + kPage.toUtf8()
        + "\",\"status\":200,\"headers\":[],\"body\":\"0001.body\",\"bytes\":10}\n";
    writeFile(index, line);

    // A body that links outside, with the size of what it links to.
    ASSERT_TRUE(QFile::link(secret, body));
    const FetchOutcome linked = ReplayWeb(dir).fetch(get(kPage));
    ASSERT_FALSE(linked.ok()) << "replayed " << linked.response->body.toStdString();
    EXPECT_TRUE(linked.error.contains(QStringLiteral("symbolic link"))) << linked.error.toStdString();

    // A FIFO body fails at once instead of waiting for a writer for ever.
    ASSERT_TRUE(QFile::remove(body));
    ASSERT_EQ(::mkfifo(QFile::encodeName(body).constData(), 0600), 0);
    auto fifoFetch = std::async(std::launch::async, [&] { return ReplayWeb(dir).fetch(get(kPage)); });
    if (fifoFetch.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Let the blocked open go before failing, so the test ends.
        const int writer = ::open(QFile::encodeName(body).constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
        fifoFetch.wait();
        FAIL() << "a FIFO body blocked the replay";
    }
    const FetchOutcome fifo = fifoFetch.get();
    EXPECT_FALSE(fifo.ok());
    EXPECT_TRUE(fifo.error.contains(QStringLiteral("not a regular file"))) << fifo.error.toStdString();

    // The index itself: neither a link nor a FIFO, nor oversized, nor with an endless line.
    ASSERT_TRUE(QFile::remove(body));
    writeFile(body, "0123456789");
    ASSERT_TRUE(QFile::remove(index));
    writeFile(secret, line);
    ASSERT_TRUE(QFile::link(secret, index));
    EXPECT_TRUE(Playback(dir).error().contains(QStringLiteral("symbolic link"))) << Playback(dir).error().toStdString();
    ASSERT_TRUE(QFile::remove(index));
    ASSERT_EQ(::mkfifo(QFile::encodeName(index).constData(), 0600), 0);
    auto fifoIndex = std::async(std::launch::async, [&] { return Playback(dir).error(); });
    if (fifoIndex.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        const int writer = ::open(QFile::encodeName(index).constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
        fifoIndex.wait();
        FAIL() << "a FIFO index blocked the replay";
    }
    EXPECT_TRUE(fifoIndex.get().contains(QStringLiteral("not a regular file")));
    ASSERT_TRUE(QFile::remove(index));

    writeFile(index, line + QByteArray(kReplayLineLimit + 1, ' ') + "{}\n");
    EXPECT_TRUE(Playback(dir).error().contains(QStringLiteral("line 2: longer than"))) << Playback(dir).error().toStdString();
    QFile huge(index);
    ASSERT_TRUE(huge.resize(kReplayIndexLimit + 1)); // sparse: costs no disk
    EXPECT_TRUE(Playback(dir).error().contains(QStringLiteral("more than a recording's index may hold")))
        << Playback(dir).error().toStdString();

    writeFile(index, line);
    const FetchOutcome plain = ReplayWeb(dir).fetch(get(kPage));
    ASSERT_TRUE(plain.ok()) << plain.error.toStdString();
    EXPECT_EQ(plain.response->body, "0123456789");
}

TEST(Recording, RefusesAFolderThatAlreadyHoldsFilesButStillAnswers) {
    QTemporaryDir tmp;
    writeFile(tmp.filePath(QStringLiteral("notes.txt")), "mine");
    FakeWeb site;
    site.add(kPage, "page");
    RecordingWeb recording(site, tmp.path());
    EXPECT_EQ(recording.recording()->error(),
              QStringLiteral("the recording folder %1 is not empty").arg(tmp.path()));
    const FetchOutcome outcome = recording.fetch(get(kPage));
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(outcome.response->body, "page");
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files), QStringList{QStringLiteral("notes.txt")});
}

TEST(Recording, TwoThreadsShareOneFolder) {
    QTemporaryDir tmp;
    auto shared = std::make_shared<Recording>(tmp.path());
    const int perThread = 40;
    auto job = [&](const QString &site) {
        FakeWeb web;
        for (int i = 0; i < perThread; ++i)
            web.add(QStringLiteral("http://%1/%2").arg(site).arg(i), QStringLiteral("%1 %2").arg(site).arg(i).toUtf8());
        RecordingWeb recording(web, shared);
        for (int i = 0; i < perThread; ++i)
            recording.fetch(get(QStringLiteral("http://%1/%2").arg(site).arg(i)));
    };
    std::thread home(job, QStringLiteral("home.test")), away(job, QStringLiteral("away.test"));
    home.join();
    away.join();

    EXPECT_EQ(shared->error(), QString());
    const QList<QByteArray> lines = indexLines(tmp.path());
    ASSERT_EQ(lines.size(), 2 * perThread);
    QSet<int> seqs;
    for (const QByteArray &line : lines)
        seqs.insert(QJsonDocument::fromJson(line).object().value(QLatin1String("seq")).toInt());
    EXPECT_EQ(seqs.size(), 2 * perThread);

    ReplayWeb replay(tmp.path());
    for (const QString &site : {QStringLiteral("home.test"), QStringLiteral("away.test")})
        for (int i = 0; i < perThread; ++i) {
            const FetchOutcome o = replay.fetch(get(QStringLiteral("http://%1/%2").arg(site).arg(i)));
            ASSERT_TRUE(o.ok()) << o.error.toStdString();
            EXPECT_EQ(o.response->body, QStringLiteral("%1 %2").arg(site).arg(i).toUtf8());
        }
}

TEST(Recording, AFailureToStoreIsReportedOnceAndNeverChangesTheAnswer) {
    QTemporaryDir tmp;
    const QString dir = tmp.filePath(QStringLiteral("rec"));
    FakeWeb site;
    site.add(kPage, "page");
    RecordingWeb recording(site, dir);
    QStringList reported;
    recording.recording()->setErrorHook([&](const QString &why) { reported.append(why); });
    ASSERT_TRUE(QDir(dir).removeRecursively()); // the folder vanishes under the running job

    for (int i = 0; i < 2; ++i) {
        const FetchOutcome outcome = recording.fetch(get(kPage));
        ASSERT_TRUE(outcome.ok());
        EXPECT_EQ(outcome.response->body, "page");
    }
    ASSERT_EQ(reported.size(), 1);
    EXPECT_TRUE(reported[0].startsWith(QStringLiteral("cannot store ") + kPage)) << reported[0].toStdString();
    EXPECT_EQ(recording.recording()->error(), reported[0]);
    EXPECT_EQ(recording.recording()->count(), 0);
}
