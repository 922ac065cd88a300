// SDT: the service name and the viewer window's caption.
#ifndef KESTRIN_TEXT_SERVICE_NAME_H
#define KESTRIN_TEXT_SERVICE_NAME_H

struct PluginState;

// Window-thread handler of WM_SDT_READY; takes the lock itself.
void HandleServiceName(PluginState& state);

// Writes the caption and the view button's label for the current view; in
// the following view also restarts the following-event collection. Takes
// the lock itself.
void UpdateCaption(PluginState& state);

#endif
