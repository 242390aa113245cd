#pragma once
// Included by the tests that start chenglan-cli or the window: the test
// process and every program it starts get a cache folder of their own,
// empty at the start of the run, so that no page kept by an earlier run (or
// by the user's own use) answers for the site under test, and the tests
// leave nothing in the user's cache.
#include <QByteArray>
#include <QTemporaryDir>

namespace chenglan::testing {

struct CacheIsolation {
    CacheIsolation() { qputenv("XDG_CACHE_HOME", dir.path().toLocal8Bit()); }
    QTemporaryDir dir;
};

inline const CacheIsolation kCacheIsolation;

} // namespace chenglan::testing
