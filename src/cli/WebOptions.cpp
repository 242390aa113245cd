#include "cli/WebOptions.h"

#include "cli/Cli.h"
#include "net/NetworkWeb.h"
#include "net/RecordingWeb.h"
#include "net/ReplayWeb.h"

namespace chenglan::cli {

bool takeWebOptions(QStringList &args, WebFactory &factory) {
    const QString recordDir = takeOption(args, QStringLiteral("--record"));
    const QString replayDir = takeOption(args, QStringLiteral("--replay"));
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
    auto schedule = std::make_shared<HostSchedule>();
    factory = [schedule, recording]() -> std::unique_ptr<Web> {
        auto polite = politeNetworkWeb(schedule);
        polite->setWaitHook([](const HostWait &wait) {
            if (wait.retryAfter)
                printError(QStringLiteral("chenglan-cli: %1").arg(wait.text()));
        });
        if (!recording)
            return polite;
        // Outermost, so the recording holds what the command was answered
        // and a replay needs no spacing or retry of its own.
        return std::make_unique<RecordingWeb>(std::move(polite), recording);
    };
    return true;
}

} // namespace chenglan::cli
