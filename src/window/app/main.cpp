// The composition root: the program in its folder, shown until its window unloads.

#include "core/settings/programfolder.h"
#include "window/app/application.h"

#include <QApplication>

namespace tarnivel {

int Main(QApplication& app) {
    UseProgramStyle();
    Application application(ProgramFolder::resolve());
    application.window().show();
    return app.exec();
}

} // namespace tarnivel

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    return tarnivel::Main(app);
}
