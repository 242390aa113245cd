#include "cli/Cli.h"

#include <QDate>
#include <QDir>
#include <QJsonDocument>
#include <QRegularExpression>

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
    for (const SiteOverride &o : SiteOverrides) {
        const QString value = takeOption(args, QStringLiteral("--") + QString::fromLatin1(o.name));
        if (value.isNull())
            continue;
        const QString problem = siteOverrideProblem(o.name, value);
        if (!problem.isEmpty()) {
            printError(problem);
            return false;
        }
        bases.*o.field = value;
    }
    return true;
}

std::optional<QString> scheduleDayText(const QString &text) {
    static const QRegularExpression form(QStringLiteral("^(\\d{4})-(\\d{1,2})-(\\d{1,2})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const QDate day(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    if (!day.isValid())
        return std::nullopt;
    return QStringLiteral("%1-%2-%3").arg(day.year()).arg(day.month()).arg(day.day());
}

namespace {
QString kindName(FailureKind kind) {
    switch (kind) {
    case FailureKind::Data:
        return QStringLiteral("data");
    case FailureKind::Network:
        return QStringLiteral("network");
    case FailureKind::SiteError:
        return QStringLiteral("site-error");
    case FailureKind::Layout:
        return QStringLiteral("layout");
    case FailureKind::Cancelled:
        return QStringLiteral("cancelled");
    }
    return {};
}
} // namespace

QJsonArray failuresJson(const StepLog &log) {
    QJsonArray failures;
    for (const StepLog::Entry &e : log.entries)
        failures.append(QJsonObject{{QStringLiteral("kind"), kindName(e.kind)}, {QStringLiteral("message"), e.message}});
    return failures;
}

bool writePictures(const ChartPictures &pictures, const QString &dir, const QString &command) {
    if (!QDir().mkpath(dir)) {
        printError(QStringLiteral("%1: cannot make the folder \"%2\"").arg(command, dir));
        return false;
    }
    const QDir out(dir);
    const bool ok = pictures.strengthPanel.writePng(out.filePath(QStringLiteral("PIC_SR.png")))
                    && pictures.trendCharts[0].writePng(out.filePath(QStringLiteral("PIC_TD0.png")))
                    && pictures.trendCharts[1].writePng(out.filePath(QStringLiteral("PIC_TD1.png")));
    if (!ok)
        printError(QStringLiteral("%1: cannot write the pictures into \"%2\"").arg(command, dir));
    return ok;
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
