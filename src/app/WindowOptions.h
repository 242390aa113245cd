#pragma once

#include "app/AppSettings.h"
#include "app/MainWindow.h"

#include <QCommandLineParser>

namespace chenglan {

// The window's site options, --odds-site, --analysis-site, --detail-site,
// --service and --server-list, each replacing a base address for this run.
void addSiteOptions(QCommandLineParser &parser);

// The addresses the site options name, by settings key.
SiteOverrides siteOverrides(const QCommandLineParser &parser);

// The window's setup after parser.process: the stored sites (build defaults
// without settings) with the options' addresses over them, the remembered
// game, and polite Qt clients that share one schedule per host, so that jobs
// following each other quickly still ask a site no faster than its spacing
// allows.
MainWindowSetup windowSetup(const QCommandLineParser &parser, const AppSettings *settings = nullptr);

} // namespace chenglan
