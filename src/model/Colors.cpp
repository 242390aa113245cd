#include "model/Colors.h"

#include "analysis/Step.h"

namespace chenglan {

namespace {

int hexDigit(QChar c, const QString &whole) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    throw StepFailure(QStringLiteral("not a colour: \"%1\"").arg(whole.left(40)));
}

} // namespace

int HexColorToRgb(const QString &text) {
    QString h = text;
    h.remove(u'#');
    h.remove(u'\'');
    h = h.trimmed().left(6).toUpper();
    int components[3] = {0, 0, 0};
    for (int p = 0, k = 0; p < h.size(); p += 2, ++k) {
        if (p + 1 >= h.size())
            throw StepFailure(QStringLiteral("colour with an odd number of digits: \"%1\"").arg(text.left(40)));
        components[k] = hexDigit(h[p], text) * 16 + hexDigit(h[p + 1], text);
    }
    return components[0] + 256 * components[1] + 65536 * components[2];
}

} // namespace chenglan
