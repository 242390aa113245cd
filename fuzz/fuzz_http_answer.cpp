// libFuzzer target for the client's HTTP handling: the input is the raw
// answer a local socket gives (status line, headers, body, however
// malformed), fetched by QtWeb with a 1 MiB body bound and no redirects
// followed. A fetch either fails with a reason or gives a final status and a
// body within the bound that is all there was: the announced length when
// there is one, never a body still in the encoding that was undone. Run by
// scripts/fuzz.
#include "FuzzSupport.h"

#include "support/RawAnswerServer.h"
#include "net/QtWeb.h"

#include <mutex>

using namespace chenglan;
using namespace std::chrono_literals;

namespace {

std::mutex answerMutex;
QByteArray answer;
testing::RawAnswerServer *server = nullptr;

QByteArray header(const HttpResponse &response, QByteArrayView name) {
    for (const auto &[key, value] : response.headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    fuzzing::startApplication(argc, argv);
    server = new testing::RawAnswerServer([](const QByteArray &) {
        const std::lock_guard lock(answerMutex);
        return answer;
    });
    if (!server->ok())
        fuzzing::fail("no local socket");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    {
        const std::lock_guard lock(answerMutex);
        answer = fuzzing::bytes(data, size);
    }
    FetchLimits limits;
    limits.deadline = 2s;
    limits.maxBody = 1024 * 1024;
    limits.maxRedirects = 0; // a Location never leads off this machine
    QtWeb web(limits);
    HttpRequest request;
    request.url = server->url(QStringLiteral("/page"));
    const FetchOutcome outcome = web.fetch(request);
    if (!outcome.ok()) {
        FUZZ_CHECK(outcome.failure != FetchOutcome::Failure::None);
        FUZZ_CHECK(!outcome.error.isEmpty());
        return 0;
    }
    const HttpResponse &r = *outcome.response;
    FUZZ_CHECK(r.status >= 200 && r.status <= 599);
    FUZZ_CHECK(r.body.size() <= limits.maxBody);
    const QByteArray coding = header(r, "Content-Encoding").trimmed().toLower();
    FUZZ_CHECK(!coding.contains("gzip") && !coding.contains("deflate"));
    const QByteArray length = header(r, "Content-Length").trimmed();
    if (!length.isEmpty() && !length.contains(',') && header(r, "Transfer-Encoding").isEmpty() && r.status != 204
        && r.status != 304)
        FUZZ_CHECK(r.body.size() == length.toLongLong());
    return 0;
}
