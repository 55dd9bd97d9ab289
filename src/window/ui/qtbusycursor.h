#pragma once

#include "window/ui/busycursor.h"

namespace tarnivel {

class QtBusyCursor : public BusyCursor {
public:
    ~QtBusyCursor() override;
    void setBusy(bool busy) override;

private:
    bool busy_ = false;
};

} // namespace tarnivel
