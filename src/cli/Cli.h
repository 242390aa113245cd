#pragma once

#include "web/SiteBases.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace chenglan::cli {

// A subcommand of chenglan-cli. Each command lives in its own file and
// registers itself with a static CommandRegistration.
struct Command {
    QString name;
    QString usage;   // one line: "render FILE | render --url URL [--charset gb2312|utf-8]"
    QString help;    // a paragraph for --help
    std::function<int(QStringList args)> run; // args without the command name
    // Draws chart texts, which needs a QGuiApplication (offscreen without a display).
    bool draws = false;
};

void registerCommand(Command command);
const QList<Command> &commands();

struct CommandRegistration {
    explicit CommandRegistration(Command command) { registerCommand(std::move(command)); }
};

// Removes the site overrides (--odds-site, --analysis-site, --detail-site,
// --service, --server-list; each must end in "/") from args. On a bad value
// prints why to stderr and returns false.
bool takeSiteOverrides(QStringList &args, SiteBases &bases);

// Removes "--name VALUE" from args; returns the value or a null string.
QString takeOption(QStringList &args, const QString &name);
// Removes "--name" from args; true when it was there.
bool takeFlag(QStringList &args, const QString &name);

// Writes UTF-8 text or indented JSON to stdout, and a line to stderr.
void printOut(const QString &text);
void printJson(const QJsonObject &object);
void printError(const QString &line);

} // namespace chenglan::cli
