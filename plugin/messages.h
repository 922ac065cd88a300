// Window messages the plug-in posts: the hand-over of sections to the
// viewer window, and the recording request to the host.
#ifndef KESTRIN_PLUGIN_MESSAGES_H
#define KESTRIN_PLUGIN_MESSAGES_H

#include <cstdint>

// Private messages to the viewer window, both parameters 0.
const uint32_t WM_EIT_PRESENT_READY = 6024;
const uint32_t WM_SDT_READY = 6025;
const uint32_t WM_EIT_FOLLOWING_READY = 6026;
// Control changes that another thread asks the window's own thread to make:
// the record button's label after a failed write on the packet path, the
// channel buttons' labels after the host reported a channel change, and the
// view (event text, tooltip, caption, view button) after a service change
// emptied the stored events.
const uint32_t WM_RECORD_LABEL = 6027;
const uint32_t WM_CHANNEL_LABELS = 6028;
const uint32_t WM_SERVICE_VIEW = 6029;
// Packets of the caption stream wait in the caption mailbox.
const uint32_t WM_CAPTION_READY = 6040;
// EIT and SDT sections of the services received are waiting for the guide.
const uint32_t WM_GUIDE_READY = 6041;
// The programme table's cache file has more to read (posted by the window's
// own thread to itself, a step at a time).
const uint32_t WM_GUIDE_CACHE = 6042;

// Recording request to the host's window; wParam is the request word.
const uint32_t WM_RECORD_REQUEST = 4024;

#endif
