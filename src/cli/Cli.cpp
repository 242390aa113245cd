#include "cli/Cli.h"

#include <QJsonDocument>

#include <cstdio>

namespace chenglan::cli {

namespace {
QList<Command> &registry() {
    static QList<Command> list;
    return list;
}
} // namespace

void registerCommand(Command command) { registry().append(std::move(command)); }
const QList<Command> &commands() { return registry(); }

QString takeOption(QStringList &args, const QString &name) {
    const qsizetype i = args.indexOf(name);
    if (i < 0)
        return {};
    if (i + 1 >= args.size()) {
        args.removeAt(i);
        return QStringLiteral(""); // present but without value: empty, not null
    }
    const QString value = args.at(i + 1);
    args.remove(i, 2);
    return value;
}

bool takeFlag(QStringList &args, const QString &name) { return args.removeAll(name) > 0; }

bool takeSiteOverrides(QStringList &args, SiteBases &bases) {
    const struct {
        const char *option;
        QString SiteBases::*field;
    } overrides[] = {
        {"--odds-site", &SiteBases::odds},       {"--analysis-site", &SiteBases::analysis},
        {"--detail-site", &SiteBases::detail},   {"--service", &SiteBases::service},
        {"--server-list", &SiteBases::serverList},
    };
    for (const auto &o : overrides) {
        const QString value = takeOption(args, QString::fromLatin1(o.option));
        if (value.isNull())
            continue;
        if (!(value.startsWith(QStringLiteral("http://")) || value.startsWith(QStringLiteral("https://")))
            || !value.endsWith(u'/')) {
            printError(QStringLiteral("%1 needs an http(s) address ending in \"/\", not \"%2\"")
                           .arg(QString::fromLatin1(o.option), value));
            return false;
        }
        bases.*o.field = value;
    }
    return true;
}

void printOut(const QString &text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void printJson(const QJsonObject &object) {
    printOut(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented)));
}

void printError(const QString &line) {
    const QByteArray bytes = (line + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

} // namespace chenglan::cli
