#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/ports.h"

// The HID port on Linux: hidapi (hidraw backend) lists the interfaces, and
// the channels drive the /dev/hidrawN node directly with open/poll/read/write.
//
// hidapi is not used for I/O: hid_open_path in hidapi 0.13.1 touches freed
// memory when HIDIOCGRDESCSIZE fails, and hid_write has no time limit (a
// usbhid write can block for up to 5 s).
//
// Construct it on the main thread before any other thread starts (hid_init
// may set the C locale), and destroy it after the HID receive thread has been
// joined (hid_exit). Call enumerate() from that one thread only: hidapi 0.13
// keeps its last error message in a process-wide variable, replaced on every
// enumeration. open() and present() do not touch hidapi.
class HidrawPort : public HidPort {
 public:
  HidrawPort();
  ~HidrawPort() override;
  HidrawPort(const HidrawPort&) = delete;
  HidrawPort& operator=(const HidrawPort&) = delete;

  // Every interface hidapi lists, in hidapi's order (the order of the hidraw
  // class directory), with the USB device's bcdDevice as release.
  std::vector<HidInterface> enumerate() override;
  std::shared_ptr<HidChannel> open(const std::string& path, HidAccess access,
                                   HidOpen& result) override;
  // The node exists and is a character device.
  bool present(const std::string& path) override;

 private:
  bool initialised_ = false;
};

// How an errno from open() of a hidraw node is reported.
HidOpen HidOpenResultForErrno(int error);
