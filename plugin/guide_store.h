// What the plug-in keeps per service for the programme information beyond
// the window's texts: the state of the lower layers' EIT present/following
// (PIDs 0x0026 and 0x0027), which a service change starts afresh.
#ifndef KESTRIN_PLUGIN_GUIDE_STORE_H
#define KESTRIN_PLUGIN_GUIDE_STORE_H

struct PluginState;

// Everything of it that belongs to one service, as after construction: the
// lower layers' EIT present/following (whose counters start again, since a
// new service may come from another channel and its reception). Lock held
// (or construction).
void ForgetServiceGuide(PluginState& state);

#endif
