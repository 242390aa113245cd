#pragma once

#include "html/PageRenderer.h"
#include "net/SiteBases.h"
#include "net/Web.h"

#include <QJsonObject>
#include <QList>
#include <QString>

namespace chenglan {

// One marker the readers of a page cut it at, and whether the page has it.
struct MarkerCheck {
    QString name;
    bool found = false;
};

// What one page of one site looked like to the readers that use it.
struct PageCheck {
    QString site;           // "odds site", "analysis site", ...
    QString page;           // "Jingcai schedule", ...
    QString url{};
    bool reached = false;   // an answer came, whatever its status
    int status = 0;         // the HTTP status of the answer
    QString networkError{}; // why no answer came
    QString encoding{};     // the charset the body was decoded with
    QString decodeError{};  // why the body is no text in that charset
    QList<MarkerCheck> markers{};
    int rows = -1;          // records the reader got out of it; -1 when not read
    QString note{};         // a page not checked, or what the rows are

    // Reached with a status below 400, decoded, every marker found and at
    // least one row read.
    bool ok() const;
    // The first thing wrong, in words; empty when ok().
    QString problem() const;
};

struct DoctorReport {
    QList<PageCheck> pages;
    bool ok() const;
};

// Fetches one page of each kind the client reads (the Jingcai schedule of
// date, empty for the site's current day; the Beidan schedule; the analysis
// and change-detail pages of the first match the Jingcai schedule lists; a
// neutral similar-match query; the link file of the first server slot) and
// checks each the way its reader reads it. Pages that depend on a listed
// match are reported as not checked when the schedule lists none.
DoctorReport diagnoseSites(Web &web, const SiteBases &bases, const PageRenderer &renderer,
                           const QString &date = QString());

// The report as an aligned text table, one line per page plus a line per
// problem, and as JSON.
QString doctorTable(const DoctorReport &report);
QJsonObject doctorJson(const DoctorReport &report);

} // namespace chenglan
