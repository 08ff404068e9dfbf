#include "hid/hid_transactions.h"

// The HID link is not connected yet: no image ever arrives over it.
bool ReadImageOverHid(ToolState&) { return false; }
