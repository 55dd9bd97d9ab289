#pragma once

namespace tarnivel {

// The busy mouse cursor shown while a connect or a dialog exchange runs.
class BusyCursor {
public:
    virtual ~BusyCursor() = default;
    virtual void setBusy(bool busy) = 0;
};

} // namespace tarnivel
