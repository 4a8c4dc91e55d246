#include "engine/InstallContext.h"

InstallContextData& InstallContext() {
    static InstallContextData context;
    return context;
}

void ResetInstallContext() {
    InstallContext() = InstallContextData{};
}
