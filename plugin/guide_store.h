// The programme guide of the service being watched, and what else the
// plug-in keeps per service for it.
#ifndef KESTRIN_PLUGIN_GUIDE_STORE_H
#define KESTRIN_PLUGIN_GUIDE_STORE_H

struct PluginState;

// Everything of the guide that belongs to one service, as after
// construction: the lower layers' EIT present/following (whose counters
// start again, since a new service may come from another channel and its
// reception) and the guide itself. Lock held (or construction).
void ForgetServiceGuide(PluginState& state);

#endif
