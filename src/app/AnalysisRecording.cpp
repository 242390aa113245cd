#include "app/AnalysisRecording.h"

#include <QDir>
#include <QElapsedTimer>
#include <QStandardPaths>

namespace chenglan {

void KeptExchanges::add(Exchange exchange) {
    const std::lock_guard lock(m_mutex);
    m_exchanges.append(std::move(exchange));
}

QList<KeptExchanges::Exchange> KeptExchanges::all() const {
    const std::lock_guard lock(m_mutex);
    return m_exchanges;
}

FetchOutcome KeepingWeb::fetch(const HttpRequest &request) {
    const QDateTime started = QDateTime::currentDateTimeUtc();
    QElapsedTimer timer;
    timer.start();
    FetchOutcome outcome = m_inner.fetch(request);
    m_kept->add({request, started, std::chrono::milliseconds(timer.elapsed()), outcome});
    return outcome;
}

QString defaultRecordingsRoot() {
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + QStringLiteral("/recordings");
}

QString newRecordingDir(const QString &root, const QDateTime &now) {
    const QString stem = QDir(root).filePath(now.toString(QStringLiteral("yyyyMMdd-HHmmss")));
    QString dir = stem;
    for (int n = 2; QFileInfo::exists(dir); ++n)
        dir = stem + u'-' + QString::number(n);
    return dir;
}

QString replayCommandLine(const RecordedClick &click, const QString &dir) {
    QString line = QStringLiteral("chenglan-cli analyze --row %1").arg(click.gridRow);
    if (click.request.game == ScheduleRequest::Game::Beidan)
        line += QStringLiteral(" --beidan");
    else if (!click.request.selectedDate.isEmpty())
        line += QStringLiteral(" --date ") + click.request.selectedDate;
    return line + QStringLiteral(" --replay \"") + QDir::toNativeSeparators(dir) + u'"';
}

int storeRecording(const QString &dir, const QList<KeptExchanges::Exchange> &exchanges, QString *why) {
    Recording recording(dir);
    for (const KeptExchanges::Exchange &e : exchanges) {
        if (!recording.error().isEmpty())
            break;
        recording.add(e.request, e.started, e.took, e.outcome);
    }
    if (why)
        *why = recording.error();
    return recording.count();
}

} // namespace chenglan
