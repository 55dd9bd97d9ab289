#include "window/app/application.h"

#include <QApplication>
#include <QDialog>
#include <QStyleFactory>

namespace tarnivel {

void UseProgramStyle() {
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
}

Application::Application(const ProgramFolder& folder)
    : folder_(folder), port_(folder_), link_(port_, platform_), commands_(link_),
      gotos_(commands_, settings_, motion_, sound_, platform_), console_{settings_,
                                                                         motion_,
                                                                         positions_,
                                                                         link_,
                                                                         commands_,
                                                                         gotos_,
                                                                         platform_,
                                                                         sound_,
                                                                         messages_,
                                                                         cursor_,
                                                                         folder_.baseName(),
                                                                         folder_.logPath(),
                                                                         folder_.logFileName(),
                                                                         {},
                                                                         {},
                                                                         [](QDialog& dialog) {
                                                                             dialog.exec();
                                                                         }},
      window_(console_, folder_.settingsPath()) {
    messages_.setParent(&window_);
}

Application::~Application() = default;

} // namespace tarnivel
