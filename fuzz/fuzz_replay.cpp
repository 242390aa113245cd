// libFuzzer target for the index of a recording folder: the input is
// index.jsonl of a folder that holds two body files (0001.body, 10 bytes,
// and 0002.body, empty). Playback reads it; every address the index names
// is asked for, each twice. Run by scripts/fuzz.
#include "FuzzSupport.h"

#include "net/RecordingWeb.h"
#include "net/ReplayWeb.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using namespace chenglan;

namespace {

QString folder;

void writeFile(const QString &name, const QByteArray &content) {
    QFile file(QDir(folder).filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        fuzzing::fail("cannot write the recording folder");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    fuzzing::startApplication(argc, argv);
    // In memory where the system has it: the index is written for every input.
    static QTemporaryDir dir(QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm/chenglan-fuzz-replay-XXXXXX")
                                                        : QDir::tempPath() + QStringLiteral("/chenglan-fuzz-replay-XXXXXX"));
    if (!dir.isValid())
        fuzzing::fail("no temporary folder");
    folder = dir.path();
    writeFile(QStringLiteral("0001.body"), "0123456789");
    writeFile(QStringLiteral("0002.body"), "");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray index = fuzzing::bytes(data, size);
    writeFile(QString::fromLatin1(kRecordingIndex), index);
    auto playback = std::make_shared<Playback>(folder);

    // The exchanges the index names, as a reader of the format sees them.
    QList<HttpRequest> asked;
    int lines = 0;
    for (const QByteArray &raw : index.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty())
            continue;
        ++lines;
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        HttpRequest request;
        request.method = o.value(QLatin1String("method")).toString() == QLatin1String("POST")
                             ? HttpRequest::Method::Post
                             : HttpRequest::Method::Get;
        request.url = o.value(QLatin1String("url")).toString();
        if (asked.size() < 16)
            asked.append(request);
    }

    ReplayWeb web(playback);
    if (!index.contains("not-recorded")) {
        HttpRequest unknown;
        unknown.url = QStringLiteral("http://127.0.0.1:1/not-recorded");
        const FetchOutcome none = web.fetch(unknown);
        FUZZ_CHECK(!none.ok() && none.failure == FetchOutcome::Failure::Network);
    }

    if (!playback->error().isEmpty()) {
        FUZZ_CHECK(playback->size() == 0);
        for (const HttpRequest &request : asked)
            FUZZ_CHECK(!web.fetch(request).ok());
        return 0;
    }
    // Read: one exchange per line, and every one of them answers (or fails as
    // recorded), never as unrecorded.
    FUZZ_CHECK(playback->size() == lines);
    for (const HttpRequest &request : asked) {
        for (int turn = 0; turn < 2; ++turn) {
            const FetchOutcome outcome = web.fetch(request);
            FUZZ_CHECK(outcome.ok() || !outcome.error.startsWith(QStringLiteral("not in the recording")));
            if (outcome.ok())
                FUZZ_CHECK(outcome.response->body.size() <= 10);
        }
    }
    return 0;
}
