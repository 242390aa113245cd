#include "cli/WebOptions.h"

#include "cli/Cli.h"
#include "net/NetworkWeb.h"
#include "net/PageCache.h"
#include "net/RecordingWeb.h"
#include "net/ReplayWeb.h"

namespace chenglan::cli {

bool takeWebOptions(QStringList &args, WebFactory &factory) {
    const QString recordDir = takeOption(args, QStringLiteral("--record"));
    const QString replayDir = takeOption(args, QStringLiteral("--replay"));
    const QString cacheDir = takeOption(args, QStringLiteral("--cache"));
    const bool noCache = takeFlag(args, QStringLiteral("--no-cache"));
    if (!cacheDir.isNull() && cacheDir.isEmpty()) {
        printError(QStringLiteral("chenglan-cli: --cache needs a folder"));
        return false;
    }
    if (!cacheDir.isNull() && (noCache || !replayDir.isNull())) {
        printError(QStringLiteral("chenglan-cli: --cache excludes --no-cache and --replay"));
        return false;
    }
    if ((!recordDir.isNull() && recordDir.isEmpty()) || (!replayDir.isNull() && replayDir.isEmpty())) {
        printError(QStringLiteral("chenglan-cli: --record and --replay need a folder"));
        return false;
    }
    if (!recordDir.isNull() && !replayDir.isNull()) {
        printError(QStringLiteral("chenglan-cli: --record and --replay exclude each other"));
        return false;
    }

    if (!replayDir.isNull()) {
        auto playback = std::make_shared<Playback>(replayDir);
        if (!playback->error().isEmpty()) {
            printError(QStringLiteral("chenglan-cli: --replay: %1").arg(playback->error()));
            return false;
        }
        factory = [playback] { return std::make_unique<ReplayWeb>(playback); };
        return true;
    }

    std::shared_ptr<Recording> recording;
    if (!recordDir.isNull()) {
        recording = std::make_shared<Recording>(recordDir);
        if (!recording->error().isEmpty()) {
            printError(QStringLiteral("chenglan-cli: --record: %1").arg(recording->error()));
            return false;
        }
        recording->setErrorHook(
            [](const QString &why) { printError(QStringLiteral("chenglan-cli: --record: %1").arg(why)); });
    }
    // A replay never reaches the cache (above): what it reads is the recording.
    std::shared_ptr<PageCache> cache;
    if (!noCache)
        cache = std::make_shared<PageCache>(cacheDir.isNull() ? defaultPageCacheDir() : cacheDir);
    auto schedule = std::make_shared<HostSchedule>();
    factory = [schedule, recording, cache]() -> std::unique_ptr<Web> {
        auto polite = politeNetworkWeb(schedule);
        polite->setWaitHook([](const HostWait &wait) {
            if (wait.retryAfter)
                printError(QStringLiteral("chenglan-cli: %1").arg(wait.text()));
        });
        // Above the spacing: a page the cache holds waits for no turn.
        std::unique_ptr<Web> web = std::move(polite);
        if (cache)
            web = std::make_unique<CachingWeb>(std::move(web), cache);
        if (!recording)
            return web;
        // Outermost, so the recording holds what the command was answered
        // (pages from the cache marked) and a replay needs no spacing, retry
        // or cache of its own.
        return std::make_unique<RecordingWeb>(std::move(web), recording);
    };
    return true;
}

} // namespace chenglan::cli
