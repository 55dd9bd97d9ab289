#include "sim/simtool.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    tarnivel::sim::ToolOptions options;
    const tarnivel::sim::ParseOutcome parsed =
        tarnivel::sim::parseToolArguments(QCoreApplication::arguments(), options);
    if (parsed.help) {
        std::fputs(qPrintable(parsed.message), stdout);
        return 0;
    }
    if (!parsed.ok) {
        std::fprintf(stderr, "tarnivel-sim: %s\nTry tarnivel-sim --help.\n",
                     qPrintable(parsed.message));
        return 2;
    }
    return tarnivel::sim::runTool(options);
}
