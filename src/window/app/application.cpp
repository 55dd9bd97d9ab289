#include "window/app/application.h"

#include "window/app/consolehub.h"

#include <QApplication>
#include <QDialog>
#include <QStyleFactory>

namespace tarnivel {

void UseProgramStyle() {
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
}

Application::Application(const ProgramFolder& folder, std::optional<int> servePort)
    : folder_(folder), port_(folder_), device_(port_, platform_, sound_),
      console_(device_, messages_, cursor_, folder_.baseName(), folder_.logPath(),
               folder_.logFileName()),
      window_(console_, folder_.settingsPath()) {
    console_.RunModal = [](QDialog& dialog) { dialog.exec(); };
    console_.scheduler = &scheduler_;
    messages_.setParent(&window_);
    console_.ServeAlpaca = [this](int port) -> QString {
        hub_.reset();
        if (port <= 0)
            return QString();
        hub_ = std::make_unique<ConsoleHub>(console_, window_, window_, folder_.folder());
        QString why = hub_->Start(quint16(port));
        if (!why.isEmpty())
            hub_.reset();
        return why;
    };
    window_.ServeAlpaca(servePort.value_or(console_.settings.AlpacaPort));
}

Application::~Application() {
    // Before the window and the device it serves.
    hub_.reset();
}

} // namespace tarnivel
