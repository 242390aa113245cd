#pragma once

#include "app/MainWindow.h"
#include "app/WindowPrefetch.h"

#include <QCommandLineParser>

namespace chenglan {

// The window's site options, --odds-site, --analysis-site, --detail-site,
// --service and --server-list, each replacing a built-in base address.
void addSiteOptions(QCommandLineParser &parser);

// The window's setup after parser.process: the sites the options name, and
// polite Qt clients that share one schedule per host, so that jobs following
// each other quickly still ask a site no faster than its spacing allows.
// With a cache setup, the clients read through its page cache and it gets
// the clients fetching ahead uses (see WindowPrefetch).
MainWindowSetup windowSetup(const QCommandLineParser &parser, WindowCacheSetup *cache = nullptr);

} // namespace chenglan
