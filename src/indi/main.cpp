// The entry points libindidriver calls; its own main() runs the event loop.
#include "indi/tarnivelfocuser.h"

#include <memory>

namespace {
// Made on the first call, from the event loop: as a global it would be built before the
// constants of the libraries it reads the settings with.
tarnivel::TarnivelFocuser* Focuser() {
    static const std::unique_ptr<tarnivel::TarnivelFocuser> focuser(
        new tarnivel::TarnivelFocuser());
    return focuser.get();
}
} // namespace

void ISGetProperties(const char* dev) {
    Focuser()->ISGetProperties(dev);
}

void ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) {
    Focuser()->ISNewSwitch(dev, name, states, names, n);
}

void ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n) {
    Focuser()->ISNewText(dev, name, texts, names, n);
}

void ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) {
    Focuser()->ISNewNumber(dev, name, values, names, n);
}

void ISNewBLOB(const char*, const char*, int[], int[], char*[], char*[], int) {}

void ISSnoopDevice(XMLEle* root) {
    Focuser()->ISSnoopDevice(root);
}
