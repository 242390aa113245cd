#include "sites/ServiceEndpoint.h"

#include "net/HttpFetch.h"

#include <QUrl>

namespace chenglan {

namespace {

// Longer than any address; a link file this long is a page, not an address.
constexpr qsizetype MaxServiceAddress = 2048;

} // namespace

QString serverSlotCaption(int slot) {
    switch (slot) {
    case 0:
        return QStringLiteral("服务器一");
    case 1:
        return QStringLiteral("服务器二");
    case 2:
        return QStringLiteral("服务器三");
    default:
        return {};
    }
}

ServerSlotLook serverSlotLook(int option, int selectedSlot) {
    if (option == selectedSlot)
        return {true, SelectedSlotColor};
    return {};
}

QString serverLinkUrl(const QString &serverListBase, int slot) {
    return serverListBase + QStringLiteral("link(") + QString::number(slot) + QStringLiteral(").txt");
}

std::optional<QString> serviceBaseFromLink(const QString &text, QString *why) {
    const auto refuse = [&](const QString &reason) -> std::optional<QString> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    QString address = text.trimmed();
    if (address.startsWith(QChar(0xFEFF)))
        address = address.mid(1).trimmed();
    const QString shown = address.simplified().left(60);
    if (address.isEmpty())
        return refuse(QStringLiteral("链接文件是空的"));
    if (address.size() > MaxServiceAddress)
        return refuse(QStringLiteral("链接文件不是地址：“%1…”").arg(shown));
    for (const QChar c : address)
        if (c.isSpace() || c.unicode() < 0x20 || c.unicode() > 0x7e)
            return refuse(QStringLiteral("链接文件不是地址：“%1”").arg(shown));
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https") || url.host().isEmpty())
        return refuse(QStringLiteral("链接文件不是 http(s) 地址：“%1”").arg(shown));
    // A user name or password would go with every query to whoever the
    // list names; the service takes none.
    const qsizetype authorityStart = address.indexOf(QStringLiteral("//")) + 2;
    qsizetype authorityEnd = address.indexOf(u'/', authorityStart);
    if (authorityEnd < 0)
        authorityEnd = address.size();
    if (!url.userInfo().isEmpty() || address.mid(authorityStart, authorityEnd - authorityStart).contains(u'@'))
        return refuse(QStringLiteral("链接文件的地址带有用户名或密码：“%1”")
                          .arg(url.toDisplayString(QUrl::RemoveUserInfo).left(60))); // the password is not shown
    if (url.hasQuery() || url.hasFragment() || !address.endsWith(u'/'))
        return refuse(QStringLiteral("链接文件的地址不以“/”结尾：“%1”").arg(shown));
    return address;
}

ServerSlotChoice SelectServerSlot(SiteBases &bases, int slot, Web &web, StepLog *log) {
    ServerSlotChoice choice;
    if (slot < 0 || slot >= ServerSlotCount) {
        choice.status = QStringLiteral("没有编号为 %1 的服务器").arg(slot);
        if (log)
            log->add(FailureKind::Data, choice.status);
        return choice;
    }
    choice.slot = slot;
    const QString caption = serverSlotCaption(slot);
    StepLog fetchLog;
    QString text;
    if (!attempt([&] { text = HttpFetchText(web, serverLinkUrl(bases.serverList, slot), Charset::Gb18030); }, &fetchLog)) {
        choice.status = QStringLiteral("%1：服务器列表读取失败，数据服务仍为 %2").arg(caption, bases.service);
        if (log)
            log->entries.append(fetchLog.entries);
        return choice;
    }
    QString why;
    const auto address = serviceBaseFromLink(text, &why);
    if (!address) {
        choice.status = QStringLiteral("%1：%2，数据服务仍为 %3").arg(caption, why, bases.service);
        if (log)
            log->add(FailureKind::SiteError, choice.status);
        return choice;
    }
    bases.service = *address;
    choice.changed = true;
    choice.status = QStringLiteral("%1：数据服务 %2").arg(caption, *address);
    return choice;
}

} // namespace chenglan
