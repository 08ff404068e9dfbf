#include "drive/udisks_mounter.h"

#include <systemd/sd-bus.h>

#include <cstring>
#include <memory>
#include <utility>

namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";
constexpr const char* kBlockDevices = "/org/freedesktop/UDisks2/block_devices/";
// Long enough for the person to answer a polkit password prompt.
constexpr uint64_t kMountTimeoutUs = 120'000'000;

struct BusUnref {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
  void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using Bus = std::unique_ptr<sd_bus, BusUnref>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

// Owns an sd_bus_error for the length of one call.
struct CallError {
  sd_bus_error error{};  // SD_BUS_ERROR_NULL, without its compound literal
  ~CallError() { sd_bus_error_free(&error); }
  bool is(const char* name) const { return sd_bus_error_has_name(&error, name) != 0; }
  std::string text(int r) const {
    if (error.message) return error.message;
    if (error.name) return error.name;
    return std::strerror(-r);
  }
};

int Connect(const std::string& address, Bus& bus) {
  sd_bus* raw = nullptr;
  int r;
  if (address.empty()) {
    r = sd_bus_open_system(&raw);
  } else {
    r = sd_bus_new(&raw);
    if (r >= 0) r = sd_bus_set_address(raw, address.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(raw, 1);
    if (r >= 0) r = sd_bus_start(raw);
  }
  bus.reset(raw);
  return r;
}

// Nobody answers for UDisks2 on this bus.
bool ServiceMissing(const CallError& e) {
  return e.is(SD_BUS_ERROR_SERVICE_UNKNOWN) || e.is(SD_BUS_ERROR_NAME_HAS_NO_OWNER);
}

// The block object of `device`; "" with `r` >= 0 when UDisks2 does not know it.
int ResolveBlock(sd_bus* bus, const std::string& device, std::string& object, CallError& e) {
  object.clear();
  sd_bus_message* raw = nullptr;
  int r = sd_bus_call_method(bus, kService, "/org/freedesktop/UDisks2/Manager",
                             "org.freedesktop.UDisks2.Manager", "ResolveDevice", &e.error, &raw,
                             "a{sv}a{sv}", 1, "path", "s", device.c_str(), 0);
  Message reply(raw);
  if (r < 0 && e.is(SD_BUS_ERROR_UNKNOWN_METHOD)) {
    // UDisks2 before 2.7 has no ResolveDevice; its object names follow the device's.
    sd_bus_error_free(&e.error);
    std::size_t slash = device.rfind('/');
    object.assign(kBlockDevices).append(device, slash == std::string::npos ? 0 : slash + 1);
    return 0;
  }
  if (r < 0) return r;
  r = sd_bus_message_enter_container(reply.get(), 'a', "o");
  if (r < 0) return r;
  const char* path = nullptr;
  r = sd_bus_message_read(reply.get(), "o", &path);
  if (r < 0) return r;
  if (r > 0 && path) object = path;
  return 0;
}

}  // namespace

UDisksMounter::UDisksMounter(std::string busAddress) : busAddress_(std::move(busAddress)) {}

MountResult UDisksMounter::mount(const std::string& blockDevice, std::string& mountPoint,
                                 std::string& error) {
  mountPoint.clear();
  error.clear();
  Bus bus;
  int r = Connect(busAddress_, bus);
  if (r < 0) {
    error = std::string("no connection to the system bus: ") + std::strerror(-r);
    return MountResult::Unavailable;
  }

  CallError e;
  std::string object;
  r = ResolveBlock(bus.get(), blockDevice, object, e);
  if (r < 0) {
    error = e.text(r);
    return ServiceMissing(e) ? MountResult::Unavailable : MountResult::Refused;
  }
  if (object.empty()) {
    error = "UDisks2 does not know " + blockDevice;
    return MountResult::Refused;
  }

  sd_bus_message* raw = nullptr;
  r = sd_bus_message_new_method_call(bus.get(), &raw, kService, object.c_str(),
                                     "org.freedesktop.UDisks2.Filesystem", "Mount");
  Message call(raw);
  // Lets polkit ask for a password where the local policy wants one.
  if (r >= 0) r = sd_bus_message_set_allow_interactive_authorization(call.get(), 1);
  if (r >= 0) r = sd_bus_message_append(call.get(), "a{sv}", 0);
  if (r < 0) {
    error = std::strerror(-r);
    return MountResult::Refused;
  }
  raw = nullptr;
  r = sd_bus_call(bus.get(), call.get(), kMountTimeoutUs, &e.error, &raw);
  Message reply(raw);
  if (r < 0) {
    // An automounter that came first did the work.
    if (e.is("org.freedesktop.UDisks2.Error.AlreadyMounted")) return MountResult::Mounted;
    error = e.text(r);
    return ServiceMissing(e) ? MountResult::Unavailable : MountResult::Refused;
  }
  const char* path = nullptr;
  r = sd_bus_message_read(reply.get(), "s", &path);
  if (r < 0) {
    error = std::strerror(-r);
    return MountResult::Refused;
  }
  mountPoint = path ? path : "";
  return MountResult::Mounted;
}
