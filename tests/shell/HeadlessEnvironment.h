#pragma once

// What every shell test runs the application in: a private settings file
// and runtime folder under the test's directory, the headless display on a
// small screen, and no input script.

#include "support/TestSupport.h"

#include <optional>

namespace qv::test {

struct HeadlessEnvironment {
    explicit HeadlessEnvironment(TempDir const& dir)
        : registry("QUILVANE_REGISTRY", (dir / "registry.reg").string())
        , runtime("XDG_RUNTIME_DIR", dir.path().string())
    {
    }

    ScopedEnv registry;
    ScopedEnv runtime;
    ScopedEnv display { "QUILVANE_DISPLAY", "headless" };
    ScopedEnv screen { "QUILVANE_SCREEN", "240x320@96" };
    ScopedEnv script { "QUILVANE_SCRIPT", std::nullopt };
};

}
