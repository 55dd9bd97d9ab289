// The composition root: the real seams, the shared state and the main window.

#include "console.h"
#include "focusercommands.h"
#include "focuserlink.h"
#include "focusersettings.h"
#include "frmtarnivel.h"
#include "gotocontroller.h"
#include "motionstate.h"
#include "programfolder.h"
#include "qtbusycursor.h"
#include "qtmessagebox.h"
#include "qtplatform.h"
#include "qtserialport.h"
#include "qtsoundplayer.h"
#include "savedpositionlist.h"

#include <QApplication>
#include <QDialog>
#include <QStyleFactory>

namespace tarnivel {

int Main(QApplication& app) {
    // The state colours are palette colours, which the platform's native styles may ignore.
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);

    const ProgramFolder folder = ProgramFolder::resolve();
    QtPlatform platform;
    QtSerialPort port(folder);
    FocuserLink link(port, platform);
    FocuserCommands commands(link);
    FocuserSettings settings;
    MotionState motion;
    SavedPositionList positions;
    QtSoundPlayer sound;
    QtMessageBox messages;
    QtBusyCursor cursor;
    GotoController gotos(commands, settings, motion, sound, platform);
    Console console{settings,
                    motion,
                    positions,
                    link,
                    commands,
                    gotos,
                    platform,
                    sound,
                    messages,
                    cursor,
                    folder.baseName(),
                    folder.logPath(),
                    folder.logFileName(),
                    {},
                    {},
                    [](QDialog& dialog) { dialog.exec(); }};

    frmTarnivel window(console, folder.settingsPath());
    messages.setParent(&window);
    window.show();
    return app.exec();
}

} // namespace tarnivel

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    return tarnivel::Main(app);
}
