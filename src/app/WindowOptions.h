#pragma once

#include "app/MainWindow.h"

#include <QCommandLineParser>

namespace chenglan {

// The window's site options, --odds-site, --analysis-site, --detail-site,
// --service and --server-list, each replacing a built-in base address.
void addSiteOptions(QCommandLineParser &parser);

// The window's setup after parser.process: the sites the options name, and
// polite Qt clients that share one schedule per host, so that jobs following
// each other quickly still ask a site no faster than its spacing allows.
MainWindowSetup windowSetup(const QCommandLineParser &parser);

} // namespace chenglan
