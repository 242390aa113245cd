// chenglan-cli: the client's pipeline without a window. Every subcommand
// prints what the window would show, as text or JSON, so that a maintainer
// can see what the scrapers see and tests can compare whole states.
#include "cli/Cli.h"

#include <QGuiApplication>

#include <memory>

using namespace chenglan::cli;

static void printUsage() {
    QString text = QStringLiteral("usage: chenglan-cli COMMAND [ARGS]\n\ncommands:\n");
    for (const Command &c : commands())
        text += QStringLiteral("  %1\n").arg(c.usage);
    text += QStringLiteral("\nchenglan-cli COMMAND --help explains one command.\n");
    printOut(text);
}

// Commands that draw get a QGuiApplication, on the offscreen platform unless
// one is chosen; the others do without the platform plugin.
static std::unique_ptr<QCoreApplication> makeApplication(int &argc, char **argv) {
    for (const Command &c : commands()) {
        if (!c.draws || argc < 2 || c.name != QString::fromLocal8Bit(argv[1]))
            continue;
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        return std::make_unique<QGuiApplication>(argc, argv);
    }
    return std::make_unique<QCoreApplication>(argc, argv);
}

int main(int argc, char **argv) {
    const std::unique_ptr<QCoreApplication> app = makeApplication(argc, argv);
    QStringList args = app->arguments().mid(1);
    if (args.isEmpty() || args.first() == QStringLiteral("--help") || args.first() == QStringLiteral("-h")) {
        printUsage();
        return args.isEmpty() ? 2 : 0;
    }
    const QString name = args.takeFirst();
    for (const Command &c : commands()) {
        if (c.name != name)
            continue;
        if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
            printOut(QStringLiteral("usage: chenglan-cli %1\n\n%2\n").arg(c.usage, c.help));
            return 0;
        }
        return c.run(args);
    }
    printError(QStringLiteral("chenglan-cli: unknown command \"%1\"").arg(name));
    printUsage();
    return 2;
}
