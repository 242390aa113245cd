#pragma once

#include "app/AppSettings.h"
#include "net/Web.h"

#include <functional>

namespace chenglan {

class MainWindow;

// The window's part of the settings. settings must outlive the window.

// Adds "设置" to the menu bar (before 帮助 when that is there): the settings
// dialog over the stored addresses, its test run through webs. Saved
// addresses apply to the window from its next command on, except those
// overridden on the command line for this run, and except a typed service
// address while a server slot is in use: that one applies from the next
// start, when it also replaces the remembered slot. fetchAheadChanged, when
// given, hears the fetching-ahead switch whenever a saved dialog turned it.
void addSettingsCommand(MainWindow *window, AppSettings *settings, const CommandLineSites &overrides, WebFactory webs,
                        std::function<void(bool)> fetchAheadChanged = {});

// Gives the window its remembered geometry (kept inside the screen), and
// once its first list is shown chooses the remembered server slot again.
void restoreRemembered(MainWindow *window, const AppSettings &settings);

// Remembers from now on the game of every list shown, every server slot
// chosen, and the window's geometry when it closes.
void rememberChanges(MainWindow *window, AppSettings *settings);

} // namespace chenglan
