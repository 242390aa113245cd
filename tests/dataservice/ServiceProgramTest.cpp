// The programs as the operator runs them: chenglan-service serving on a port
// it picks, and importing the sample site's own export.

#include "MatchStore.h"
#include "ServiceTestData.h"
#include "TestPostgres.h"
#include "support/ServerProcess.h"

#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>

#include <gtest/gtest.h>
#include <httplib.h>

using namespace chenglan::dataservice;
using namespace chenglan::dataservice::testing;

namespace {

const QString kServiceBinary = QStringLiteral(CHENGLAN_BINARY_DIR "/server/dataservice/chenglan-service");
const QString kSiteBinary = QStringLiteral(CHENGLAN_BINARY_DIR "/server/samplesite/chenglan-sample-site");

class ServiceProgramOn : public OnBothBackends {};
CHENGLAN_ON_BOTH_BACKENDS(ServiceProgramOn);

} // namespace

TEST_P(ServiceProgramOn, ServesTheQueryAndTheLinkFilesOnThePortItPrints) {
    {
        MatchStore store(where());
        store.upsertMatch(finishedMatch(11));
        store.upsertProfile(profileOf(11, Strengths{35, -20, 40, -10, 50, 0, 45, 5}));
    }
    chenglan::testing::ServerProcess service(kServiceBinary, {QStringLiteral("serve"), QStringLiteral("--db"), where()});
    ASSERT_TRUE(service.ok()) << service.error().toStdString();

    httplib::Client client("127.0.0.1", service.port());
    client.set_url_encode(false);
    const auto link = client.Get("/link(2).txt");
    ASSERT_TRUE(link);
    EXPECT_EQ(QString::fromStdString(link->body), service.baseUrl());

    const auto answer = client.Post("/shili/deep_jc.asp?sql=0.35,-0.2,0.4,-0.1,0.5,0,0.45,0.05,A31,D10,99");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    const QString text = QStringDecoder("GB18030").decode(QByteArray::fromStdString(answer->body));
    EXPECT_TRUE(text.startsWith(QStringLiteral("11,,2024-03-01 20:00,#ff0000,英超,主队11,客队11,"))) << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral(",|")));
}

TEST_P(ServiceProgramOn, ImportsTheSampleSitesExportTwiceWithoutDuplicatesAndBacktestsIt) {
    if (!QFileInfo::exists(kSiteBinary))
        GTEST_SKIP() << "the sample site is not built";
    TempDatabase folder;
    const QString csv = folder.path() + QStringLiteral(".csv");
    const ProgramRun exported = runProgram(kSiteBinary, {QStringLiteral("--today"), QStringLiteral("2022-10-09"),
                                                   QStringLiteral("--export-csv"), csv});
    ASSERT_EQ(exported.exitCode, 0) << exported.errors.toStdString();

    const ProgramRun first = runProgram(kServiceBinary, {QStringLiteral("import"), QStringLiteral("--db"), where(), csv});
    ASSERT_EQ(first.exitCode, 0) << first.errors.toStdString();
    EXPECT_TRUE(first.errors.contains(QStringLiteral(" 0 bad"))) << first.errors.toStdString();
    const qint64 count = MatchStore(where()).matchCount();
    EXPECT_GT(count, 1000);

    const ProgramRun second = runProgram(kServiceBinary, {QStringLiteral("import"), QStringLiteral("--db"), where(), csv});
    ASSERT_EQ(second.exitCode, 0) << second.errors.toStdString();
    EXPECT_TRUE(second.errors.contains(QStringLiteral(" 0 new, 0 updated"))) << second.errors.toStdString();
    EXPECT_EQ(MatchStore(where()).matchCount(), count);

    // Short league names and the handicap line come through.
    const auto first1 = MatchStore(where()).match(1900000);
    ASSERT_TRUE(first1);
    EXPECT_FALSE(first1->leagueShort.isEmpty());
    EXPECT_TRUE(first1->handicapLine.has_value());

    const ProgramRun backtest = runProgram(kServiceBinary, {QStringLiteral("backtest"), QStringLiteral("--db"), where(),
                                                            QStringLiteral("--csv")});
    EXPECT_EQ(backtest.exitCode, 0) << backtest.errors.toStdString();
}
