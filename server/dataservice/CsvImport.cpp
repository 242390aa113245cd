#include "CsvImport.h"

#include "ServiceLimits.h"
#include "analysis/TextRules.h"

#include <QStringDecoder>

#include <cmath>

namespace chenglan::dataservice {

namespace {

enum Column {
    MatchId, League, LeagueColour, HomeTeam, AwayTeam, Kickoff,
    HalfTimeHome, HalfTimeAway, FullTimeHome, FullTimeAway, Handicap, HomeOdds, AwayOdds
};

const char *const kColumnNames[kCsvColumns] = {
    "match id", "league", "league colour", "home team", "away team", "kick-off", "half-time home goals",
    "half-time away goals", "full-time home goals", "full-time away goals", "handicap", "home odds", "away odds"};

bool hasControlCharacter(const QString &text) {
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

// Names go into answer records, whose fields are split at "," and "|".
QString nameError(const QString &text, Column column, bool required, qsizetype maxChars) {
    if (required && text.isEmpty())
        return QStringLiteral("%1 is empty").arg(QLatin1String(kColumnNames[column]));
    if (text.size() > maxChars)
        return QStringLiteral("%1 is longer than %2 characters").arg(QLatin1String(kColumnNames[column])).arg(maxChars);
    if (text.contains(u',') || text.contains(u'|') || hasControlCharacter(text))
        return QStringLiteral("%1 holds \",\", \"|\" or a control character").arg(QLatin1String(kColumnNames[column]));
    return {};
}

bool allDigits(QStringView text) {
    if (text.isEmpty())
        return false;
    for (QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

std::optional<std::optional<int>> goals(const QString &text) {
    if (text.isEmpty())
        return std::optional<int>();
    if (text.size() > 2 || !allDigits(text))
        return std::nullopt;
    const int n = text.toInt();
    if (n > limits::kMaxGoals)
        return std::nullopt;
    return std::optional<int>(n);
}

std::optional<std::optional<double>> odds(const QString &text) {
    if (text.isEmpty())
        return std::optional<double>();
    const auto value = text::strictNumber(text);
    if (!value || text.trimmed() != text || !std::isfinite(*value) || *value < 0 || *value > limits::kMaxOdds)
        return std::nullopt;
    return std::optional<double>(*value);
}

bool validColour(QStringView text) {
    if (text.size() != 7 || text[0] != u'#')
        return false;
    for (QChar c : text.mid(1))
        if (!c.isDigit() && !(c >= u'a' && c <= u'f') && !(c >= u'A' && c <= u'F'))
            return false;
    return true;
}

} // namespace

std::optional<QStringList> splitCsvLine(QStringView line) {
    QStringList fields;
    QString field;
    qsizetype i = 0;
    const qsizetype n = line.size();
    for (;;) {
        field.clear();
        if (i < n && line[i] == u'"') {
            ++i;
            for (;;) {
                if (i >= n)
                    return std::nullopt; // unterminated quote
                if (line[i] == u'"') {
                    if (i + 1 < n && line[i + 1] == u'"') {
                        field += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
            if (i < n && line[i] != u',')
                return std::nullopt; // text after the closing quote
        } else {
            while (i < n && line[i] != u',') {
                if (line[i] == u'"')
                    return std::nullopt;
                field += line[i++];
            }
        }
        fields << field;
        if (i >= n)
            return fields;
        ++i; // the comma
    }
}

CsvMatch matchFromCsv(const QStringList &in) {
    const auto fail = [](const QString &why) { return CsvMatch{std::nullopt, why}; };
    if (in.size() != kCsvColumns)
        return fail(QStringLiteral("%1 columns, expected %2").arg(in.size()).arg(kCsvColumns));
    QStringList c;
    for (const QString &f : in)
        c << f.trimmed();

    MatchFacts f;
    if (c[MatchId].size() > qsizetype(limits::kMaxMatchIdDigits) || !allDigits(c[MatchId]))
        return fail(QStringLiteral("match id is not a number"));
    f.matchId = c[MatchId].toLongLong();
    if (f.matchId <= 0)
        return fail(QStringLiteral("match id is not a number"));

    for (auto [column, required, maxChars] :
         {std::tuple{League, true, limits::kMaxNameChars}, std::tuple{HomeTeam, true, limits::kMaxNameChars},
          std::tuple{AwayTeam, true, limits::kMaxNameChars}, std::tuple{Handicap, false, limits::kMaxHandicapChars}}) {
        const QString error = nameError(c[column], column, required, qsizetype(maxChars));
        if (!error.isEmpty())
            return fail(error);
    }
    f.league = c[League];
    f.homeTeam = c[HomeTeam];
    f.awayTeam = c[AwayTeam];
    f.handicap = c[Handicap];

    if (!validColour(c[LeagueColour]))
        return fail(QStringLiteral("league colour is not \"#\" and six hexadecimal digits"));
    f.leagueColour = c[LeagueColour].toLower();

    if (!kickoffMinutes(c[Kickoff]))
        return fail(QStringLiteral("kick-off is not \"YYYY-MM-DD HH:MM\""));
    f.kickoff = c[Kickoff];

    std::optional<int> *goalSlots[] = {&f.halfTimeHome, &f.halfTimeAway, &f.fullTimeHome, &f.fullTimeAway};
    for (int k = 0; k < 4; ++k) {
        const auto value = goals(c[HalfTimeHome + k]);
        if (!value)
            return fail(QStringLiteral("%1 is not a goal count").arg(QLatin1String(kColumnNames[HalfTimeHome + k])));
        *goalSlots[k] = *value;
    }
    if (f.fullTimeHome.has_value() != f.fullTimeAway.has_value())
        return fail(QStringLiteral("only one full-time goal count"));
    if (f.halfTimeHome.has_value() != f.halfTimeAway.has_value())
        return fail(QStringLiteral("only one half-time goal count"));
    if (f.finished() && f.halfTimeHome
        && (*f.halfTimeHome > *f.fullTimeHome || *f.halfTimeAway > *f.fullTimeAway))
        return fail(QStringLiteral("half-time goals exceed full-time goals"));

    for (auto [column, slot] : {std::pair{HomeOdds, &f.homeOdds}, std::pair{AwayOdds, &f.awayOdds}}) {
        const auto value = odds(c[column]);
        if (!value)
            return fail(QStringLiteral("%1 is not a number").arg(QLatin1String(kColumnNames[column])));
        *slot = *value;
    }
    return CsvMatch{f, {}};
}

ImportReport importCsv(QIODevice &input, MatchStore &store, const std::function<void(const QString &)> &report) {
    ImportReport result;
    int lineNumber = 0;
    bool firstDataLine = true;
    int inBatch = 0;

    const auto progress = [&] {
        report(QStringLiteral("import: %1 lines, %2 new, %3 updated, %4 unchanged, %5 bad")
                   .arg(result.lines)
                   .arg(result.inserted)
                   .arg(result.updated)
                   .arg(result.unchanged)
                   .arg(result.bad));
    };

    try {
        while (!input.atEnd()) {
            QByteArray bytes = input.readLine(qint64(limits::kMaxCsvLineBytes) + 2);
            ++lineNumber;
            const bool complete = bytes.endsWith('\n') || input.atEnd();
            if (!complete) {
                // Too long: skip the rest of the physical line.
                while (!input.atEnd() && !input.readLine(64 * 1024).endsWith('\n')) {
                }
                ++result.lines;
                ++result.bad;
                report(QStringLiteral("import: line %1: longer than %2 bytes, skipped")
                           .arg(lineNumber)
                           .arg(limits::kMaxCsvLineBytes));
                continue;
            }
            while (bytes.endsWith('\n') || bytes.endsWith('\r'))
                bytes.chop(1);
            if (lineNumber == 1 && bytes.startsWith("\xEF\xBB\xBF"))
                bytes.remove(0, 3);
            if (bytes.trimmed().isEmpty())
                continue;

            QStringDecoder decoder(QStringDecoder::Utf8);
            const QString line = decoder.decode(bytes);
            const auto bad = [&](const QString &why) {
                ++result.bad;
                report(QStringLiteral("import: line %1: %2, skipped").arg(lineNumber).arg(why));
            };
            if (decoder.hasError()) {
                ++result.lines;
                bad(QStringLiteral("not UTF-8"));
                continue;
            }
            const auto fields = splitCsvLine(line);
            // A first line whose first field is not a number names the columns.
            if (firstDataLine) {
                firstDataLine = false;
                if (fields && !fields->isEmpty() && !allDigits(fields->first().trimmed())) {
                    report(QStringLiteral("import: line %1 is a header of %2 columns, skipped")
                               .arg(lineNumber)
                               .arg(fields->size()));
                    continue;
                }
            }
            ++result.lines;
            if (!fields) {
                bad(QStringLiteral("broken quoting"));
                continue;
            }
            const CsvMatch parsed = matchFromCsv(*fields);
            if (!parsed.facts) {
                bad(parsed.error);
                continue;
            }
            if (inBatch == 0)
                store.beginBatch();
            switch (store.upsertMatch(*parsed.facts)) {
            case UpsertResult::Inserted: ++result.inserted; break;
            case UpsertResult::Updated: ++result.updated; break;
            case UpsertResult::Unchanged: ++result.unchanged; break;
            }
            if (!parsed.facts->finished())
                ++result.unfinished;
            if (++inBatch >= limits::kImportBatchLines) {
                store.commitBatch();
                inBatch = 0;
                progress();
            }
        }
        if (inBatch > 0)
            store.commitBatch();
    } catch (...) {
        store.rollbackBatch();
        throw;
    }
    progress();
    return result;
}

} // namespace chenglan::dataservice
