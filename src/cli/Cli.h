#pragma once

#include "base/Step.h"
#include "charts/ChartPictures.h"
#include "net/SiteBases.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

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

// A day given as "2022-10-09" or "2022-10-9" in the form the schedule page
// is sent, without leading zeros ("2022-10-9"); no value when it is no day.
std::optional<QString> scheduleDayText(const QString &text);

// The failures of skipped statements as JSON: kind and message of each.
QJsonArray failuresJson(const StepLog &log);

// Writes PIC_SR.png, PIC_TD0.png and PIC_TD1.png into dir, made when
// missing. On failure prints why, led by the command's name, and returns false.
bool writePictures(const ChartPictures &pictures, const QString &dir, const QString &command);

// Writes UTF-8 text or indented JSON to stdout, and a line to stderr.
void printOut(const QString &text);
void printJson(const QJsonObject &object);
void printError(const QString &line);

} // namespace chenglan::cli
