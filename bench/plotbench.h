#pragma once

#include "windowchild.h"

#include <QJsonObject>

namespace tarnivel::bench {

// 6. The temperature plot: a log of 100,000 lines opened and drawn in the "Temperatures"
// window, and the cost of one more point with 10 and with 80,000 points held.
QJsonObject measurePlot();
// The child that composes the real window and measures (needs a GUI application).
int runPlotChild(int& argc, char** argv, const ChildOptions& options);

} // namespace tarnivel::bench
