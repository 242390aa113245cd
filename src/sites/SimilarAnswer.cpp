#include "sites/SimilarAnswer.h"

#include <QStringList>
#include <QUrl>

#include <algorithm>

namespace chenglan {

namespace {

const QString QueryPath = QStringLiteral("shili/deep_jc.asp?sql=");

} // namespace

QString similarQueryText(const StrengthProfile &profile, const Value &matchId, StepLog *log) {
    QString query;
    for (int i = 0; i < strength::Count; ++i)
        attempt([&] { query += profile.strengths.at(i).text() + u','; }, log);
    return query + profile.code20.text() + u',' + profile.code10.text() + u',' + matchId.text();
}

QString similarQueryUrl(const QString &serviceBase, const QString &query) {
    return serviceBase + QueryPath + QString::fromLatin1(QUrl::toPercentEncoding(query, ","));
}

Table parseSimilarAnswer(const QString &answer, bool *truncated) {
    const QStringList pieces = answer.split(u'|');
    int records = int(pieces.size()) - 1;
    if (truncated)
        *truncated = records > MaxSimilarRecords;
    if (records > MaxSimilarRecords)
        records = MaxSimilarRecords;
    Table table(SimilarMatchColumns, records);
    for (int r = 0; r < records; ++r) {
        const QStringList fields = pieces[r].split(u',');
        const int kept = std::min(int(fields.size()) - 1, SimilarMatchColumns);
        for (int c = 0; c < kept; ++c)
            table.set(c, r, Value(fields[c]));
    }
    return table;
}

} // namespace chenglan
