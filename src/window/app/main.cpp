// The composition root: the program in its folder, shown until its window unloads.

#include "core/settings/programfolder.h"
#include "window/app/application.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <optional>

namespace tarnivel {

int Main(QApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The Tarnivel focuser console."));
    parser.addHelpOption();
    const QCommandLineOption serveOption(
        QStringLiteral("serve-alpaca"),
        QStringLiteral("Serve the focuser to ASCOM Alpaca clients on TCP port N for this run, "
                       "whatever the options say (0: not at all)."),
        QStringLiteral("N"));
    parser.addOption(serveOption);
    parser.process(app);
    std::optional<int> servePort;
    if (parser.isSet(serveOption)) {
        bool ok = false;
        const int port = parser.value(serveOption).toInt(&ok);
        if (!ok || port < 0 || port > 65535) {
            std::fprintf(stderr, "tarnivel: --serve-alpaca takes a port from 0 to 65535\n");
            return 2;
        }
        servePort = port;
    }

    UseProgramStyle();
    Application application(ProgramFolder::resolve(), servePort);
    application.window().show();
    return app.exec();
}

} // namespace tarnivel

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    return tarnivel::Main(app);
}
