#pragma once

#include "MatchRecords.h"
#include "MatchStore.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace chenglan::dataservice::testing {

// A database file in a fresh temporary folder.
class TempDatabase {
public:
    TempDatabase() { EXPECT_TRUE(m_dir.isValid()); }
    QString path() const { return m_dir.filePath(QStringLiteral("service.db")); }

private:
    QTemporaryDir m_dir;
};

inline MatchFacts finishedMatch(qint64 id, const QString &kickoff = QStringLiteral("2024-03-01 20:00")) {
    MatchFacts f;
    f.matchId = id;
    f.league = QStringLiteral("英格兰超级联赛");
    f.leagueShort = QStringLiteral("英超");
    f.leagueColour = QStringLiteral("#ff0000");
    f.homeTeam = QStringLiteral("主队%1").arg(id);
    f.awayTeam = QStringLiteral("客队%1").arg(id);
    f.kickoff = kickoff;
    f.halfTimeHome = 1;
    f.halfTimeAway = 0;
    f.fullTimeHome = 2;
    f.fullTimeAway = 1;
    f.handicap = QStringLiteral("半球");
    f.handicapLine = 0.5;
    f.homeOdds = 0.95;
    f.awayOdds = 0.91;
    return f;
}

inline MatchProfile profileOf(qint64 id, Strengths strengths, const QString &code20 = QStringLiteral("A31"),
                              const QString &code10 = QStringLiteral("D10")) {
    return MatchProfile{{strengths, code20, code10}, id};
}

// A program of the build run to its end (at most two minutes): its exit
// code (-1 when it crashed or did not finish) and what it wrote on stderr.
struct ProgramRun {
    int exitCode = -1;
    QString errors;
};

inline ProgramRun runProgram(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        run.errors = QStringLiteral("did not finish");
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace chenglan::dataservice::testing
