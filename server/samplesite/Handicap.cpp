#include "Handicap.h"

#include <cmath>

namespace chenglan::sample {

QString handicapText(double line) {
    static const char16_t *const names[] = {u"平手",      u"平手/半球",   u"半球",      u"半球/一球",   u"一球",
                                            u"一球/球半", u"球半",        u"球半/两球", u"两球",        u"两球/两球半",
                                            u"两球半",    u"两球半/三球", u"三球",      u"三球/三球半", u"三球半"};
    const int steps = int(std::lround(std::abs(line) * 4.0));
    const int last = int(std::size(names)) - 1;
    const QString name = QString::fromUtf16(names[steps > last ? last : steps]);
    return line < 0 ? QStringLiteral("受让") + name : name;
}

QString priceText(double price) { return QString::number(price, 'f', 2); }

double handicapResult(int homeGoals, int awayGoals, double line) {
    const auto whole = [&](double l) {
        const double d = homeGoals - awayGoals - l;
        return d > 0 ? 1.0 : d < 0 ? -1.0 : 0.0;
    };
    const double quarter = std::fmod(std::abs(line) * 4.0, 2.0);
    if (quarter == 1.0)
        return (whole(line - 0.25) + whole(line + 0.25)) / 2.0;
    return whole(line);
}

} // namespace chenglan::sample
