// A plug-in state wired to a FakePlatform, as the tests use it.
#ifndef KESTRIN_TESTS_SUPPORT_TEST_PLUGIN_H
#define KESTRIN_TESTS_SUPPORT_TEST_PLUGIN_H

#include <memory>

#include "plugin/plugin_state.h"
#include "tests/support/fake_platform.h"

struct TestPlugin {
    FakePlatform platform;
    std::unique_ptr<PluginState> state;

    TestPlugin() : state(new PluginState) {
        InitPluginState(*state, &platform);
        state->hasWindow = true;
    }
    PluginState& s() { return *state; }
};

#endif
