#include "app/AnalysisRecording.h"

#include "model/GridFormats.h"
#include "usecases/MatchClicks.h"

#include <QDir>
#include <QStandardPaths>

namespace chenglan {

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

void recordListClick(AnalysisJobData &d, JobContext &job, const RecordedClick &click,
                     const std::shared_ptr<Recording> &recording, const SiteBases &sites,
                     const PageRenderer &renderer) {
    RecordingWeb web(job.web(), recording);
    RecordingWeb second(job.anotherWeb(), recording);
    // The listing is fetched again so that the recording holds everything a
    // replay of "--row N" reads, the schedule page first.
    const ScheduleListing listing = listSchedule(click.request, web, sites, renderer);
    job.throwIfCancelled();
    if (click.gridRow < 1 || click.gridRow >= listing.grid.rows()) {
        d.status = QStringLiteral("记录未完成：%1，列表中已没有第 %2 场比赛。记录在 %3")
                       .arg(listing.status)
                       .arg(click.gridRow)
                       .arg(QDir::toNativeSeparators(recording->dir()));
        d.log = listing.log;
        return;
    }
    d.schedule = listing.state;
    const Value rowKey(listing.grid.text(click.gridRow, MatchListKeyColumn));
    const AnalysisContext context{web, sites, renderer, &second, jobProgress(job)};
    const ListClickRun run = listClick(d.state, d.schedule, rowKey, context, d.pictures, d.similar);
    job.throwIfCancelled();
    d.log.entries = run.analysis.log.entries + run.queryLog.entries + run.drawLog.entries;
    if (!recording->error().isEmpty()) {
        d.status = QStringLiteral("%1；记录不完整（%2），在 %3")
                       .arg(run.status, recording->error(), QDir::toNativeSeparators(recording->dir()));
        return;
    }
    d.status = QStringLiteral("%1；已记录 %2 次读取到 %3（可打包附在问题报告中；重放：%4）")
                   .arg(run.status)
                   .arg(recording->count())
                   .arg(QDir::toNativeSeparators(recording->dir()), replayCommandLine(click, recording->dir()));
}

} // namespace chenglan
