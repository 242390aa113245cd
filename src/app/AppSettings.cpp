#include "app/AppSettings.h"

#include "sites/ServiceEndpoint.h"

#include <QSettings>

namespace chenglan {

namespace {

const QString SitesGroup = QStringLiteral("sites/");
const QString ServerSlotKey = QStringLiteral("serverSlot");
const QString GeometryKey = QStringLiteral("window/geometry");
const QString LastGameKey = QStringLiteral("lastGame");
const QString FetchAheadKey = QStringLiteral("fetchAhead");
const QString BeidanValue = QStringLiteral("beidan");
const QString JingcaiValue = QStringLiteral("jingcai");

} // namespace

const QList<SiteField> &siteFields() {
    static const QList<SiteField> fields{
        {QStringLiteral("odds"), QStringLiteral("odds-site"), &SiteBases::odds, QStringLiteral("赔率网站（赛程）")},
        {QStringLiteral("analysis"), QStringLiteral("analysis-site"), &SiteBases::analysis, QStringLiteral("分析网站")},
        {QStringLiteral("detail"), QStringLiteral("detail-site"), &SiteBases::detail, QStringLiteral("盘口变化网站")},
        {QStringLiteral("service"), QStringLiteral("service"), &SiteBases::service, QStringLiteral("数据服务")},
        {QStringLiteral("serverList"), QStringLiteral("server-list"), &SiteBases::serverList,
         QStringLiteral("服务器列表")},
    };
    return fields;
}

QString siteAddressProblem(const SiteField &field, const QString &text) {
    return siteOverrideProblem(field.option.toLatin1().constData(), text);
}

SiteBases withOverrides(SiteBases sites, const CommandLineSites &overrides) {
    for (const SiteField &f : siteFields())
        if (overrides.contains(f.key))
            sites.*f.member = overrides.value(f.key);
    return sites;
}

AppSettings::AppSettings() : m_store(std::make_unique<QSettings>()) {}

AppSettings::AppSettings(const QString &iniFile)
    : m_store(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

AppSettings::~AppSettings() = default;

SiteBases AppSettings::sites() const {
    SiteBases sites;
    for (const SiteField &f : siteFields()) {
        const QString stored = m_store->value(SitesGroup + f.key).toString();
        if (siteAddressProblem(f, stored).isEmpty())
            sites.*f.member = stored;
    }
    return sites;
}

void AppSettings::setSites(const SiteBases &sites) {
    const SiteBases defaults;
    for (const SiteField &f : siteFields()) {
        if (sites.*f.member == defaults.*f.member)
            m_store->remove(SitesGroup + f.key);
        else
            m_store->setValue(SitesGroup + f.key, sites.*f.member);
    }
}

int AppSettings::serverSlot() const {
    bool ok = false;
    const int slot = m_store->value(ServerSlotKey, -1).toInt(&ok);
    return ok && slot >= 0 && slot < ServerSlotCount ? slot : -1;
}

void AppSettings::setServerSlot(int slot) {
    if (slot >= 0 && slot < ServerSlotCount)
        m_store->setValue(ServerSlotKey, slot);
    else
        m_store->remove(ServerSlotKey);
}

QByteArray AppSettings::windowGeometry() const { return m_store->value(GeometryKey).toByteArray(); }

void AppSettings::setWindowGeometry(const QByteArray &geometry) { m_store->setValue(GeometryKey, geometry); }

ScheduleRequest::Game AppSettings::lastGame() const {
    return m_store->value(LastGameKey).toString() == BeidanValue ? ScheduleRequest::Game::Beidan
                                                                 : ScheduleRequest::Game::Jingcai;
}

void AppSettings::setLastGame(ScheduleRequest::Game game) {
    m_store->setValue(LastGameKey, game == ScheduleRequest::Game::Beidan ? BeidanValue : JingcaiValue);
}

bool AppSettings::fetchAhead() const { return m_store->value(FetchAheadKey, true).toBool(); }

void AppSettings::setFetchAhead(bool on) { m_store->setValue(FetchAheadKey, on); }

void AppSettings::sync() { m_store->sync(); }

} // namespace chenglan
