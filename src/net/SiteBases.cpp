#include "net/SiteBases.h"

#include <QUrl>

namespace chenglan {

bool isSiteBase(const QString &text) {
    if (!text.endsWith(u'/'))
        return false;
    for (const QChar c : text)
        if (c.isSpace() || c.unicode() < 0x20)
            return false;
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty() && !url.hasQuery()
        && !url.hasFragment();
}

} // namespace chenglan
