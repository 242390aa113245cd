#include "PageText.h"

#include <QStringEncoder>

namespace chenglan::sample {

QString htmlEscape(const QString &text) { return text.toHtmlEscaped(); }

QString jsString(const QString &text) {
    QString out;
    out.reserve(text.size() + 2);
    out += u'\'';
    for (QChar c : text) {
        if (c == u'\\' || c == u'\'')
            out += u'\\';
        if (c == u'\n') {
            out += QStringLiteral("\\n");
            continue;
        }
        if (c == u'<') // keeps "</script" out of the script text
            out += u'\\';
        out += c;
    }
    out += u'\'';
    return out;
}

QByteArray gbBytes(const QString &text) {
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

QString monthDayTime(Minutes when) { return dateTimeOf(when).toString(QStringLiteral("MM-dd HH:mm")); }

QString fullDateTime(Minutes when) { return dateTimeOf(when).toString(QStringLiteral("yyyy-MM-dd HH:mm")); }

} // namespace chenglan::sample
