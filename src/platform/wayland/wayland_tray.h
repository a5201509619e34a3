// The tray icon where the desktop has a StatusNotifierItem host (swaybar,
// panels of most Wayland desktops): an item on the session bus, registered
// with the watcher, and again whenever a watcher appears. Its Activate is
// the icon's left click, its ContextMenu the right click.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct sd_bus;
struct sd_bus_slot;

namespace wayland {

class WaylandDriver;

class StatusItem {
public:
  // Null when there is no session bus.
  static std::unique_ptr<StatusItem> Create(WaylandDriver *driver,
                                            const std::string &tooltip);
  ~StatusItem();

  // Registers with the watcher; false when there is none (a refusal, which
  // comes later, counts as the tray going away).
  bool Register();
  bool Registered() const { return registered_; }

  // For the driver's wait: the bus's descriptor, the poll events it wants,
  // when it must be looked at again (milliseconds on CLOCK_MONOTONIC,
  // UINT64_MAX for never), and handling what came.
  int Fd();
  int Events();
  uint64_t Timeout();
  void Process();

  // Called by the bus's handlers.
  void OnWatcherOwner(bool present);
  void OnAnswer(bool refused);
  WaylandDriver *driver() const { return driver_; }
  const std::string &title() const { return title_; }

private:
  StatusItem() = default;

  WaylandDriver *driver_ = nullptr;
  sd_bus *bus_ = nullptr;
  sd_bus_slot *object_ = nullptr;
  sd_bus_slot *watcherMatch_ = nullptr;
  sd_bus_slot *pending_ = nullptr; // the registration, unanswered
  std::string service_;
  std::string title_;
  bool registered_ = false;
  bool lost_ = false;
};

} // namespace wayland
