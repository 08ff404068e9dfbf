#include "hid/hid_discovery.h"

int32_t EnumerateHidDevices(HidLink& hid, HidPort& port) {
  for (std::string& path : hid.devicePaths) path.clear();
  int32_t count = 0;
  for (const HidInterface& found : port.enumerate()) {
    if (count >= kPathTableSize) break;
    if (found.vendorId != kLoggerVendorId || found.productId != kLoggerProductId ||
        found.release != kLoggerRelease || found.path.empty())
      continue;
    hid.devicePaths[static_cast<std::size_t>(count++)] = found.path;
  }
  return count;
}
