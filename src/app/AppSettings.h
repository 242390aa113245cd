#pragma once

#include "net/SiteBases.h"
#include "usecases/ScheduleListing.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <memory>

class QSettings;

namespace chenglan {

// One site address the user can set: its settings key, its command-line
// option, its SiteBases member and its name in the settings dialog.
struct SiteField {
    QString key;    // "odds"
    QString option; // "odds-site"
    QString SiteBases::*member;
    QString label; // "赔率网站"
};
const QList<SiteField> &siteFields();

// Why text cannot be the field's address, as the command line says it
// (siteOverrideProblem); empty when it can.
QString siteAddressProblem(const SiteField &field, const QString &text);

// Addresses given on the command line for this run, by settings key; they
// win over the stored ones and are never stored.
using CommandLineSites = QHash<QString, QString>;
SiteBases withOverrides(SiteBases sites, const CommandLineSites &overrides);

// What the window remembers between runs, in QSettings: the site and service
// addresses, the last server slot, the window's geometry, the last game
// listed and the fetching-ahead switch. The default constructor uses the
// application's settings (organisation and application names set in main);
// the other keeps them in an INI file, for tests. Values are written at once;
// sync() flushes them to storage.
class AppSettings {
public:
    AppSettings();
    explicit AppSettings(const QString &iniFile);
    ~AppSettings();
    AppSettings(const AppSettings &) = delete;
    AppSettings &operator=(const AppSettings &) = delete;

    // The stored addresses over the build's defaults. An address stored in a
    // form the window would not accept reads as the default.
    SiteBases sites() const;
    // Stores the addresses; one equal to the build's default is removed, so
    // that a changed default applies.
    void setSites(const SiteBases &sites);

    // The server slot last chosen, 0..ServerSlotCount-1; -1 for none.
    int serverSlot() const;
    void setServerSlot(int slot);

    QByteArray windowGeometry() const;
    void setWindowGeometry(const QByteArray &geometry);

    ScheduleRequest::Game lastGame() const;
    void setLastGame(ScheduleRequest::Game game);

    // Whether listed matches' pages are fetched ahead of a click; on unless
    // the user turned it off.
    bool fetchAhead() const;
    void setFetchAhead(bool on);

    void sync();

private:
    std::unique_ptr<QSettings> m_store;
};

} // namespace chenglan
