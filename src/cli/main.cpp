// chenglan-cli: the client's pipeline without a window. Every subcommand
// prints what the window would show, as text or JSON, so that a maintainer
// can see what the scrapers see and tests can compare whole states.
#include "cli/Cli.h"

#include <QCoreApplication>

using namespace chenglan::cli;

static void printUsage() {
    QString text = QStringLiteral("usage: chenglan-cli COMMAND [ARGS]\n\ncommands:\n");
    for (const Command &c : commands())
        text += QStringLiteral("  %1\n").arg(c.usage);
    text += QStringLiteral("\nchenglan-cli COMMAND --help explains one command.\n");
    printOut(text);
}

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
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
