// Window messages the plug-in posts: the hand-over of sections to the
// viewer window, and the recording request to the host.
#ifndef KESTRIN_PLUGIN_MESSAGES_H
#define KESTRIN_PLUGIN_MESSAGES_H

#include <cstdint>

// Private messages to the viewer window, both parameters 0.
const uint32_t WM_EIT_PRESENT_READY = 6024;
const uint32_t WM_SDT_READY = 6025;
const uint32_t WM_EIT_FOLLOWING_READY = 6026;

// Recording request to the host's window; wParam is the request word.
const uint32_t WM_RECORD_REQUEST = 4024;

#endif
