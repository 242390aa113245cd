#pragma once

#include "app/MainWindow.h"
#include "usecases/ScheduleListing.h"
#include "net/RecordingWeb.h"

#include <QDateTime>
#include <QString>

#include <memory>

namespace chenglan {

// The folder under which the window keeps its recordings: the user's
// application data folder + "/recordings".
QString defaultRecordingsRoot();

// A new, not yet existing folder under root named after the time
// ("20221009-153000", with "-2", "-3", ... when taken).
QString newRecordingDir(const QString &root, const QDateTime &now);

// The command line that replays the recording.
QString replayCommandLine(const RecordedClick &click, const QString &dir);

// The job's work: fetches the listing again and runs the click on its row,
// every exchange of both Webs stored in recording. The status says where the
// recording is, or why it is incomplete.
void recordListClick(AnalysisJobData &d, JobContext &job, const RecordedClick &click,
                     const std::shared_ptr<Recording> &recording, const SiteBases &sites,
                     const PageRenderer &renderer);

} // namespace chenglan
