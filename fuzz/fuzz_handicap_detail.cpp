// libFuzzer target for the change detail of a match: the input's first line
// is the match date text, the rest the page (decoded as GB18030, as
// fetched). scrapeHandicapChanges cuts the change table, renders it and reads its rows;
// handicapChanges also reads the rest directly as visible text, and
// AdjustChangeYear completes the date text with the match date. Run by
// scripts/fuzz.
#include "FuzzSupport.h"

#include "sites/HandicapDetail.h"
#include "net/HttpFetch.h"

using namespace chenglan;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    fuzzing::startApplication(argc, argv);
    return 0;
}

namespace {

void checkChanges(const QList<HandicapChange> &changes, const QString &visible) {
    // A change per line after the header line at most.
    FUZZ_CHECK(changes.size() <= visible.count(u'\r'));
    for (const HandicapChange &c : changes) {
        FUZZ_CHECK(c.homeOdds.isNumber() && c.homeOdds.number() > 0);
        FUZZ_CHECK(c.changeTime.isEmpty() || (c.changeTime.isDate() && c.changeTime.asDate()->isValid()));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QList<QByteArray> input = fuzzing::parts(fuzzing::bytes(data, size), "\n", 2);
    const Value matchDate(QString::fromUtf8(input.first()));
    const QByteArray page = input.size() > 1 ? input.at(1) : QByteArray();

    // The page as scrapeHandicapChanges reads it.
    fuzzing::PagesWeb web({page}, "text/html; charset=gb2312");
    const PageRenderer renderer(fuzzing::shortLimits());
    const SiteBases bases;
    AnalysisState s;
    s.currentMatchId = Value(QStringLiteral("100"));
    s.matchDate = matchDate;
    s.handicapSummary = Table(HandicapItems, HandicapMatches);
    s.listHandicapLoaded = Value::fromInt16(std::int16_t(size % 2));
    StepLog log;
    const int kept = scrapeHandicapChanges(s, web, bases, renderer, &log);
    FUZZ_CHECK(kept >= 0);
    FUZZ_CHECK(web.served() == 1);
    const int match = int(size % 2);
    // Either both ends of the kept changes or nothing.
    FUZZ_CHECK((kept > 0) == !s.handicapSummary.at(0, match).isEmpty());
    FUZZ_CHECK(s.handicapSummary.at(0, 1 - match).isEmpty());

    // The markup is a piece of the lower-cased page, "," after every cell.
    QString text;
    try {
        text = BytesToText(page, Charset::Gb18030);
    } catch (const StepFailure &) {
        text = QString::fromUtf8(page);
    }
    const QString markup = handicapChangeMarkup(text);
    FUZZ_CHECK(markup.isEmpty() || markup.startsWith(u"<span id=\"odds2\""));
    FUZZ_CHECK(!markup.contains(u"</table>"));

    // The rest read directly as the visible text of the table.
    StepLog textLog;
    checkChanges(handicapChanges(text, matchDate, &textLog), QString(text).replace(QStringLiteral("受让"), QStringLiteral("受")));

    // The first line as a change time in the year of a fixed match date, and
    // as the match date of a fixed change time.
    const Value matchDay(QDateTime(QDate(2022, 3, 5), QTime(19, 30), Qt::UTC));
    Value changeTime = matchDate;
    attempt([&] {
        const QDateTime adjusted = AdjustChangeYear(changeTime, matchDay);
        FUZZ_CHECK(adjusted.isValid() && changeTime.isDate());
        const QDateTime original = *changeTime.asDate();
        FUZZ_CHECK(adjusted == original || adjusted == original.addYears(-1));
    });
    Value fixedChange(QStringLiteral("2021-12-30 10:00"));
    attempt([&] {
        const QDateTime adjusted = AdjustChangeYear(fixedChange, matchDate);
        FUZZ_CHECK(adjusted.isValid());
    });
    return 0;
}
