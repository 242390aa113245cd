#include "CsvImport.h"

#include "ServiceLimits.h"
#include "base/TextRules.h"

#include <QStringDecoder>

#include <cmath>

namespace chenglan::dataservice {

namespace {

// Header names, in the documented order of the columns.
const char *const kColumnNames[kCsvColumnKinds] = {
    "match_id", "league", "league_colour", "home_team", "away_team", "kickoff", "ht_home", "ht_away",
    "ft_home", "ft_away", "handicap", "home_odds", "away_odds", "league_short", "handicap_line"};

QLatin1String nameOf(CsvColumn column) { return QLatin1String(kColumnNames[int(column)]); }

// Characters a name must not hold because they are invisible or change how
// the text around them reads: C0 and C1 controls, the bidirectional controls
// and marks (a reversed team name reads as another team), line and paragraph
// separators, the byte-order mark, and noncharacters.
bool isHiddenCharacter(char32_t c) {
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x061c || c == 0x200e || c == 0x200f
           || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069) || c == 0x2028 || c == 0x2029
           || c == 0xfeff || (c >= 0xfdd0 && c <= 0xfdef) || (c & 0xfffe) == 0xfffe;
}

bool hasHiddenCharacter(const QString &text) {
    for (char32_t c : text.toUcs4())
        if (isHiddenCharacter(c))
            return true;
    return false;
}

// Names go into answer records, whose fields are split at "," and "|".
QString nameError(const QString &text, CsvColumn column, bool required, std::size_t maxChars) {
    if (required && text.isEmpty())
        return QStringLiteral("%1 is empty").arg(nameOf(column));
    if (text.size() > qsizetype(maxChars))
        return QStringLiteral("%1 is longer than %2 characters").arg(nameOf(column)).arg(maxChars);
    if (text.contains(u',') || text.contains(u'|') || hasHiddenCharacter(text))
        return QStringLiteral("%1 holds \",\", \"|\" or a control character").arg(nameOf(column));
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

// Outer: the text was readable; inner: it held a value.
std::optional<std::optional<int>> goals(const QString &text) {
    if (text.isEmpty())
        return std::optional<std::optional<int>>(std::in_place); // readable, no value
    if (text.size() > 2 || !allDigits(text))
        return std::nullopt;
    return std::optional<int>(text.toInt());
}

std::optional<std::optional<double>> number(const QString &text, double low, double high) {
    if (text.isEmpty())
        return std::optional<double>();
    const auto value = text::strictNumber(text);
    if (!value || !std::isfinite(*value) || *value < low || *value > high)
        return std::nullopt;
    return std::optional<double>(*value);
}

bool validColour(QStringView text) {
    if (text.size() != 7 || text[0] != u'#')
        return false;
    for (QChar c : text.mid(1))
        // ASCII only: QChar::isDigit would also take full-width and other digits.
        if (!(c >= u'0' && c <= u'9') && !(c >= u'a' && c <= u'f') && !(c >= u'A' && c <= u'F'))
            return false;
    return true;
}

} // namespace

CsvLayout CsvLayout::documented() {
    CsvLayout layout;
    layout.position.fill(-1);
    for (int i = 0; i < kCsvRequiredColumns; ++i)
        layout.position[i] = i;
    layout.fieldCount = kCsvRequiredColumns;
    return layout;
}

std::optional<CsvLayout> CsvLayout::fromHeader(const QStringList &names, QString *error) {
    CsvLayout layout;
    layout.position.fill(-1);
    layout.fieldCount = int(names.size());
    for (int at = 0; at < names.size(); ++at) {
        const QString name = names[at].trimmed().toLower();
        for (int k = 0; k < kCsvColumnKinds; ++k) {
            if (name != QLatin1String(kColumnNames[k]))
                continue;
            if (layout.position[k] >= 0) {
                *error = QStringLiteral("the header names %1 twice").arg(name);
                return std::nullopt;
            }
            layout.position[k] = at;
        }
    }
    QStringList missing;
    for (int k = 0; k < kCsvRequiredColumns; ++k)
        if (layout.position[k] < 0)
            missing << QLatin1String(kColumnNames[k]);
    if (!missing.isEmpty()) {
        *error = QStringLiteral("the header lacks %1").arg(missing.join(QStringLiteral(", ")));
        return std::nullopt;
    }
    return layout;
}

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

CsvMatch matchFromCsv(const QStringList &fields, const CsvLayout &layout) {
    const auto fail = [](const QString &why) { return CsvMatch{std::nullopt, why}; };
    if (fields.size() != layout.fieldCount)
        return fail(QStringLiteral("%1 columns, expected %2").arg(fields.size()).arg(layout.fieldCount));
    const auto at = [&](CsvColumn column) {
        const int position = layout.position[int(column)];
        return position < 0 ? QString() : fields[position].trimmed();
    };

    MatchFacts f;
    const QString id = at(CsvColumn::MatchId);
    if (id.size() > qsizetype(limits::kMaxMatchIdDigits) || !allDigits(id) || id.toLongLong() <= 0)
        return fail(QStringLiteral("match_id is not a number"));
    f.matchId = id.toLongLong();

    struct NameRule {
        CsvColumn column;
        bool required;
        std::size_t maxChars;
        QString *slot;
    };
    for (const NameRule &rule : {NameRule{CsvColumn::League, true, limits::kMaxNameChars, &f.league},
                                 NameRule{CsvColumn::LeagueShort, false, limits::kMaxNameChars, &f.leagueShort},
                                 NameRule{CsvColumn::HomeTeam, true, limits::kMaxNameChars, &f.homeTeam},
                                 NameRule{CsvColumn::AwayTeam, true, limits::kMaxNameChars, &f.awayTeam},
                                 NameRule{CsvColumn::Handicap, false, limits::kMaxHandicapChars, &f.handicap}}) {
        *rule.slot = at(rule.column);
        const QString error = nameError(*rule.slot, rule.column, rule.required, rule.maxChars);
        if (!error.isEmpty())
            return fail(error);
    }

    const QString colour = at(CsvColumn::LeagueColour);
    if (!validColour(colour))
        return fail(QStringLiteral("league_colour is not \"#\" and six hexadecimal digits"));
    f.leagueColour = colour.toLower();

    f.kickoff = at(CsvColumn::Kickoff);
    if (!kickoffMinutes(f.kickoff))
        return fail(QStringLiteral("kickoff is not \"YYYY-MM-DD HH:MM\""));

    const std::pair<CsvColumn, std::optional<int> *> goalColumns[] = {
        {CsvColumn::HalfTimeHome, &f.halfTimeHome},
        {CsvColumn::HalfTimeAway, &f.halfTimeAway},
        {CsvColumn::FullTimeHome, &f.fullTimeHome},
        {CsvColumn::FullTimeAway, &f.fullTimeAway}};
    for (const auto &[column, slot] : goalColumns) {
        const auto value = goals(at(column));
        if (!value)
            return fail(QStringLiteral("%1 is not a goal count").arg(nameOf(column)));
        *slot = *value;
    }
    if (f.fullTimeHome.has_value() != f.fullTimeAway.has_value())
        return fail(QStringLiteral("only one full-time goal count"));
    if (f.halfTimeHome.has_value() != f.halfTimeAway.has_value())
        return fail(QStringLiteral("only one half-time goal count"));
    if (f.finished() && f.halfTimeHome
        && (*f.halfTimeHome > *f.fullTimeHome || *f.halfTimeAway > *f.fullTimeAway))
        return fail(QStringLiteral("more goals at half-time than at full-time"));

    const std::tuple<CsvColumn, std::optional<double> *, double, double> numberColumns[] = {
        {CsvColumn::HomeOdds, &f.homeOdds, 0.0, limits::kMaxOdds},
        {CsvColumn::AwayOdds, &f.awayOdds, 0.0, limits::kMaxOdds},
        {CsvColumn::HandicapLine, &f.handicapLine, -double(limits::kMaxGoals), double(limits::kMaxGoals)}};
    for (const auto &[column, slot, low, high] : numberColumns) {
        const auto value = number(at(column), low, high);
        if (!value)
            return fail(QStringLiteral("%1 is not a number").arg(nameOf(column)));
        *slot = *value;
    }
    return CsvMatch{f, {}};
}

ImportReport importCsv(QIODevice &input, MatchStore &store, const std::function<void(const QString &)> &report) {
    ImportReport result;
    CsvLayout layout = CsvLayout::documented();
    int lineNumber = 0;
    bool firstLine = true;
    int inBatch = 0;

    const auto progress = [&] {
        report(QStringLiteral("import: %1 lines, %2 new, %3 updated, %4 unchanged, %5 bad")
                   .arg(result.lines)
                   .arg(result.inserted)
                   .arg(result.updated)
                   .arg(result.unchanged)
                   .arg(result.bad));
    };
    const auto bad = [&](const QString &why) {
        ++result.bad;
        report(QStringLiteral("import: line %1: %2, skipped").arg(lineNumber).arg(why));
    };

    try {
        while (!input.atEnd()) {
            // The bound counts a line without its CR LF; readLine(n) gives at
            // most n - 1 bytes, so n leaves room for the bound and both.
            QByteArray bytes = input.readLine(qint64(limits::kMaxCsvLineBytes) + 3);
            ++lineNumber;
            const bool whole = bytes.endsWith('\n') || input.atEnd();
            while (bytes.endsWith('\n') || bytes.endsWith('\r'))
                bytes.chop(1);
            if (!whole || bytes.size() > qsizetype(limits::kMaxCsvLineBytes)) {
                // Too long: the rest of the physical line goes with it.
                while (!whole && !input.atEnd() && !input.readLine(64 * 1024).endsWith('\n')) {
                }
                ++result.lines;
                bad(QStringLiteral("longer than %1 bytes").arg(limits::kMaxCsvLineBytes));
                continue;
            }
            if (lineNumber == 1 && bytes.startsWith("\xEF\xBB\xBF"))
                bytes.remove(0, 3);
            if (bytes.trimmed().isEmpty())
                continue;

            QStringDecoder decoder(QStringDecoder::Utf8);
            const QString line = decoder.decode(bytes);
            const auto fields = decoder.hasError() ? std::nullopt : splitCsvLine(line);

            // A first line whose first field is not a number names the columns.
            if (firstLine) {
                firstLine = false;
                if (fields && !allDigits(fields->first().trimmed())) {
                    QString why;
                    const auto named = CsvLayout::fromHeader(*fields, &why);
                    if (!named) {
                        result.fatal = QStringLiteral("line %1: %2").arg(lineNumber).arg(why);
                        report(QStringLiteral("import: %1").arg(result.fatal));
                        return result;
                    }
                    layout = *named;
                    continue;
                }
            }
            ++result.lines;
            if (decoder.hasError()) {
                bad(QStringLiteral("not UTF-8"));
                continue;
            }
            if (!fields) {
                bad(QStringLiteral("broken quoting"));
                continue;
            }
            const CsvMatch parsed = matchFromCsv(*fields, layout);
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
