#pragma once

#include "CsvImport.h"
#include "MatchStore.h"
#include "support/ServerProcess.h"
#include "net/SiteBases.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>

namespace chenglan::testing {

// The sample site and a data service on a small database made from the
// site's own export, started as the scripts start them, for tests of whole
// clicks. The site's clock stands at noon of Today, so every run lists and
// analyses the same matches. Import gives the service the facts of the
// latest ExportedLines matches; the latest FinishedWithProfile finished ones
// (teams with a long history behind them) get a strength profile made up
// from their id (the client's analysis of them is not what is tested here),
// so that every query is answered with the same records.
class SampleServers {
public:
    static constexpr char Today[] = "2022-10-09";
    static constexpr int ExportedLines = 300;
    static constexpr int FinishedWithProfile = 60;

    SampleServers() {
        if (!m_dir.isValid()) {
            fail(QStringLiteral("no temporary folder"));
            return;
        }
        const QString csv = m_dir.filePath(QStringLiteral("export.csv"));
        const QString db = m_dir.filePath(QStringLiteral("service.db"));
        if (!run(QStringLiteral("server/samplesite/chenglan-sample-site"),
                 {QStringLiteral("--today"), QLatin1String(Today), QStringLiteral("--export-csv"), csv})
            || !keepLatestLines(csv) || !run(QStringLiteral("server/dataservice/chenglan-service"),
                                            {QStringLiteral("import"), QStringLiteral("--db"), db, csv})
            || !addProfiles(csv, db))
            return;
        m_service = std::make_unique<ServerProcess>(QStringLiteral("server/dataservice/chenglan-service"),
                                                    QStringList{QStringLiteral("serve"), QStringLiteral("--db"), db});
        if (!m_service->ok()) {
            fail(QStringLiteral("data service: ") + m_service->error());
            return;
        }
        m_site = std::make_unique<ServerProcess>(
            QStringLiteral("server/samplesite/chenglan-sample-site"),
            QStringList{QStringLiteral("--today"), QLatin1String(Today), QStringLiteral("--service"),
                        m_service->baseUrl()});
        if (!m_site->ok()) {
            fail(QStringLiteral("sample site: ") + m_site->error());
            return;
        }
        m_bases.odds = m_site->url(QStringLiteral("odds/"));
        m_bases.analysis = m_site->url(QStringLiteral("zq/"));
        m_bases.detail = m_site->url(QStringLiteral("vip/"));
        m_bases.serverList = m_site->url(QStringLiteral("servers/"));
        m_bases.service = m_service->baseUrl();
    }

    bool ok() const { return m_error.isEmpty() && m_site && m_site->ok(); }
    const QString &error() const { return m_error; }
    const SiteBases &sites() const { return m_bases; }

    // The site overrides of chenglan-cli for these servers.
    QStringList cliSiteOptions() const {
        return {QStringLiteral("--odds-site"), m_bases.odds, QStringLiteral("--analysis-site"), m_bases.analysis,
                QStringLiteral("--detail-site"), m_bases.detail, QStringLiteral("--service"), m_bases.service,
                QStringLiteral("--server-list"), m_bases.serverList};
    }

    // Takes the sample site down; the data service stays.
    void stopSite() { m_site.reset(); }

private:
    void fail(const QString &why) {
        if (m_error.isEmpty())
            m_error = why;
    }

    bool run(const QString &binary, const QStringList &arguments) {
        QProcess process;
        process.start(QStringLiteral(CHENGLAN_BINARY_DIR "/") + binary, arguments);
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit
            || process.exitCode() != 0) {
            fail(QStringLiteral("%1 %2 failed: %3")
                     .arg(binary, arguments.join(u' '), QString::fromUtf8(process.readAllStandardError())));
            return false;
        }
        return true;
    }

    // A small database: the header and the last ExportedLines matches (the
    // export lists them by kick-off).
    bool keepLatestLines(const QString &csv) {
        QFile file(csv);
        if (!file.open(QIODevice::ReadOnly)) {
            fail(QStringLiteral("cannot read ") + csv);
            return false;
        }
        QList<QByteArray> lines = file.readAll().trimmed().split('\n');
        lines = QList<QByteArray>{lines.value(0)} + lines.mid(std::max<qsizetype>(1, lines.size() - ExportedLines));
        file.close();
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            fail(QStringLiteral("cannot write ") + csv);
            return false;
        }
        file.write(lines.join('\n') + '\n');
        return true;
    }

    bool addProfiles(const QString &csv, const QString &db) {
        using namespace chenglan::dataservice;
        QFile file(csv);
        if (!file.open(QIODevice::ReadOnly)) {
            fail(QStringLiteral("cannot read ") + csv);
            return false;
        }
        const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
        QString why;
        const auto header = splitCsvLine(lines.value(0));
        const auto layout = header ? CsvLayout::fromHeader(*header, &why) : std::nullopt;
        if (!layout) {
            fail(QStringLiteral("export header: ") + why);
            return false;
        }
        try {
            return storeProfiles(lines, *layout, db);
        } catch (const chenglan::dataservice::StoreError &e) {
            fail(QStringLiteral("service database: ") + QString::fromLocal8Bit(e.what()));
            return false;
        }
    }

    bool storeProfiles(const QStringList &lines, const chenglan::dataservice::CsvLayout &layout, const QString &db) {
        using namespace chenglan::dataservice;
        MatchStore store(db);
        store.beginBatch();
        int profiles = 0;
        for (qsizetype i = lines.size() - 1; i > 0 && profiles < FinishedWithProfile; --i) {
            const auto fields = splitCsvLine(lines[i]);
            const CsvMatch match = fields ? matchFromCsv(*fields, layout) : CsvMatch{};
            if (!match.facts || !match.facts->finished())
                continue;
            const qint64 id = match.facts->matchId;
            MatchProfile profile{{{}, id % 3 ? QStringLiteral("A31") : QStringLiteral("B33"),
                                  id % 2 ? QStringLiteral("D10") : QStringLiteral("D33")},
                                 id};
            for (int k = 0; k < kStrengthCount; ++k)
                profile.strengths[k] = std::int32_t((id * 37 + k * 101) % 200) - 100;
            store.upsertProfile(profile);
            ++profiles;
        }
        store.commitBatch();
        if (profiles < FinishedWithProfile) {
            fail(QStringLiteral("only %1 finished matches in the export").arg(profiles));
            return false;
        }
        return true;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<ServerProcess> m_service;
    std::unique_ptr<ServerProcess> m_site;
    SiteBases m_bases;
    QString m_error;
};

} // namespace chenglan::testing
