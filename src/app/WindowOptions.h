#pragma once

#include "app/AppSettings.h"
#include "app/MainWindow.h"
#include "app/WindowPrefetch.h"

#include <QCommandLineParser>

namespace chenglan {

// The window's site options, --odds-site, --analysis-site, --detail-site,
// --service and --server-list, each replacing a base address for this run.
void addSiteOptions(QCommandLineParser &parser);

// The addresses the site options name, by settings key. An option that is no
// base address is refused as the command line refuses it: left out, and
// *error says why.
CommandLineSites commandLineSites(const QCommandLineParser &parser, QString *error = nullptr);

// The window's setup after parser.process: the stored sites (build defaults
// without settings) with the options' addresses over them, the remembered
// game, and polite Qt clients that share one schedule per host, so that jobs
// following each other quickly still ask a site no faster than its spacing
// allows. A refused option leaves the address it would replace; *error says
// why. With a cache setup, the clients read through its page cache and it
// gets the clients fetching ahead uses (see WindowPrefetch).
MainWindowSetup windowSetup(const QCommandLineParser &parser, QString *error = nullptr,
                            const AppSettings *settings = nullptr, WindowCacheSetup *cache = nullptr);

} // namespace chenglan
