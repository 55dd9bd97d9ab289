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
    : folder_(folder), port_(folder_), device_(port_, platform_, sound_),
      console_(device_, messages_, cursor_, folder_.baseName(), folder_.logPath(),
               folder_.logFileName()),
      window_(console_, folder_.settingsPath()) {
    console_.RunModal = [](QDialog& dialog) { dialog.exec(); };
    messages_.setParent(&window_);
}

Application::~Application() = default;

} // namespace tarnivel
