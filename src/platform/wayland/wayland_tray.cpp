#include "platform/wayland/wayland_tray.h"

#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/portable/bitmap.h"
#include "platform/portable/host.h"
#include "platform/portable/text.h"
#include "platform/resources/icon.h"
#include "platform/wayland/wayland_driver.h"

namespace wayland {

namespace {

constexpr char kWatcher[] = "org.kde.StatusNotifierWatcher";
constexpr char kWatcherPath[] = "/StatusNotifierWatcher";
constexpr char kItemInterface[] = "org.kde.StatusNotifierItem";
constexpr char kItemPath[] = "/StatusNotifierItem";

StatusItem *Of(void *data) { return static_cast<StatusItem *>(data); }

int StringProperty(sd_bus *, const char *, const char *, const char *property,
                   sd_bus_message *reply, void *data, sd_bus_error *) {
  const std::string name = property;
  const char *value = "";
  if (name == "Category")
    value = "ApplicationStatus";
  else if (name == "Id")
    value = "flinto";
  else if (name == "Title")
    value = Of(data)->title().c_str();
  else if (name == "Status")
    value = "Active";
  return sd_bus_message_append(reply, "s", value);
}

int WindowIdProperty(sd_bus *, const char *, const char *, const char *,
                     sd_bus_message *reply, void *, sd_bus_error *) {
  return sd_bus_message_append(reply, "i", 0);
}

int ItemIsMenuProperty(sd_bus *, const char *, const char *, const char *,
                       sd_bus_message *reply, void *, sd_bus_error *) {
  return sd_bus_message_append(reply, "b", 0);
}

// The icon at a few sizes, ARGB32 in network byte order.
int AppendPixmaps(sd_bus_message *reply) {
  int r = sd_bus_message_open_container(reply, 'a', "(iiay)");
  for (int size : {16, 22, 24, 32, 48}) {
    if (r < 0)
      return r;
    const std::vector<uint32_t> pixels = icon::Draw(size);
    std::vector<uint8_t> bytes;
    bytes.reserve(pixels.size() * 4);
    for (uint32_t p : pixels) {
      bytes.push_back(0xFF);
      bytes.push_back(uint8_t(p >> 16));
      bytes.push_back(uint8_t(p >> 8));
      bytes.push_back(uint8_t(p));
    }
    r = sd_bus_message_open_container(reply, 'r', "iiay");
    if (r >= 0)
      r = sd_bus_message_append(reply, "ii", size, size);
    if (r >= 0)
      r = sd_bus_message_append_array(reply, 'y', bytes.data(), bytes.size());
    if (r >= 0)
      r = sd_bus_message_close_container(reply);
  }
  return r < 0 ? r : sd_bus_message_close_container(reply);
}

int IconPixmapProperty(sd_bus *, const char *, const char *, const char *,
                       sd_bus_message *reply, void *, sd_bus_error *) {
  return AppendPixmaps(reply);
}

int ToolTipProperty(sd_bus *, const char *, const char *, const char *,
                    sd_bus_message *reply, void *data, sd_bus_error *) {
  int r = sd_bus_message_open_container(reply, 'r', "sa(iiay)ss");
  if (r >= 0)
    r = sd_bus_message_append(reply, "s", "");
  if (r >= 0)
    r = sd_bus_message_open_container(reply, 'a', "(iiay)");
  if (r >= 0)
    r = sd_bus_message_close_container(reply);
  if (r >= 0)
    r = sd_bus_message_append(reply, "ss", Of(data)->title().c_str(), "");
  return r < 0 ? r : sd_bus_message_close_container(reply);
}

int Activate(sd_bus_message *m, void *data, sd_bus_error *) {
  int x = -1, y = -1;
  sd_bus_message_read(m, "ii", &x, &y);
  Of(data)->driver()->TrayActivated(x, y);
  return sd_bus_reply_method_return(m, "");
}

int ContextMenu(sd_bus_message *m, void *data, sd_bus_error *) {
  int x = -1, y = -1;
  sd_bus_message_read(m, "ii", &x, &y);
  Of(data)->driver()->TrayContextMenu(x, y);
  return sd_bus_reply_method_return(m, "");
}

int Ignore(sd_bus_message *m, void *, sd_bus_error *) {
  return sd_bus_reply_method_return(m, "");
}

const sd_bus_vtable kItemTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Category", "s", StringProperty, 0,
                    SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Id", "s", StringProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Title", "s", StringProperty, 0,
                    SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Status", "s", StringProperty, 0,
                    SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("WindowId", "i", WindowIdProperty, 0,
                    SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconName", "s", StringProperty, 0,
                    SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconPixmap", "a(iiay)", IconPixmapProperty, 0,
                    SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("ToolTip", "(sa(iiay)ss)", ToolTipProperty, 0,
                    SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("ItemIsMenu", "b", ItemIsMenuProperty, 0,
                    SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD("Activate", "ii", "", Activate, 0),
    SD_BUS_METHOD("SecondaryActivate", "ii", "", Ignore, 0),
    SD_BUS_METHOD("ContextMenu", "ii", "", ContextMenu, 0),
    SD_BUS_METHOD("Scroll", "is", "", Ignore, 0),
    SD_BUS_SIGNAL("NewTitle", "", 0),
    SD_BUS_SIGNAL("NewIcon", "", 0),
    SD_BUS_SIGNAL("NewToolTip", "", 0),
    SD_BUS_SIGNAL("NewStatus", "s", 0),
    SD_BUS_VTABLE_END};

int Answered(sd_bus_message *m, void *data, sd_bus_error *) {
  Of(data)->OnAnswer(sd_bus_message_is_method_error(m, nullptr) != 0);
  return 0;
}

// The watcher came or went.
int WatcherOwnerChanged(sd_bus_message *m, void *data, sd_bus_error *) {
  const char *name = nullptr, *before = nullptr, *after = nullptr;
  if (sd_bus_message_read(m, "sss", &name, &before, &after) < 0 ||
      name == nullptr || std::string(name) != kWatcher)
    return 0;
  Of(data)->OnWatcherOwner(after != nullptr && after[0] != '\0');
  return 0;
}

} // namespace

std::unique_ptr<StatusItem> StatusItem::Create(WaylandDriver *driver,
                                               const std::string &tooltip) {
  std::unique_ptr<StatusItem> item(new StatusItem());
  item->driver_ = driver;
  item->title_ = portable::Cp932ToUtf8(tooltip);
  if (sd_bus_open_user(&item->bus_) < 0) {
    item->bus_ = nullptr;
    return nullptr;
  }
  char service[96];
  std::snprintf(service, sizeof service, "org.kde.StatusNotifierItem-%d-1",
                int(getpid()));
  item->service_ = service;
  if (sd_bus_add_object_vtable(item->bus_, &item->object_, kItemPath,
                               kItemInterface, kItemTable, item.get()) < 0 ||
      sd_bus_request_name(item->bus_, service, 0) < 0)
    return nullptr;
  // Told only of the watcher's coming and going. Without the match the
  // item still works; a watcher that comes later goes unnoticed.
  sd_bus_add_match(item->bus_, &item->watcherMatch_,
                   "type='signal',sender='org.freedesktop.DBus',"
                   "path='/org/freedesktop/DBus',"
                   "interface='org.freedesktop.DBus',"
                   "member='NameOwnerChanged',"
                   "arg0='org.kde.StatusNotifierWatcher'",
                   WatcherOwnerChanged, item.get());
  return item;
}

StatusItem::~StatusItem() {
  if (bus_ == nullptr)
    return;
  if (pending_ != nullptr)
    sd_bus_slot_unref(pending_);
  if (watcherMatch_ != nullptr)
    sd_bus_slot_unref(watcherMatch_);
  if (object_ != nullptr)
    sd_bus_slot_unref(object_);
  sd_bus_flush_close_unref(bus_);
}

bool StatusItem::Register() {
  // Whether a watcher is there: the bus itself answers that, at once.
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message *reply = nullptr;
  int present = 0;
  if (sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus", "NameHasOwner", &error, &reply,
                         "s", kWatcher) >= 0 &&
      sd_bus_message_read(reply, "b", &present) < 0)
    present = 0;
  sd_bus_error_free(&error);
  if (reply != nullptr)
    sd_bus_message_unref(reply);
  if (!present) {
    registered_ = false;
    return false;
  }
  // The watcher's answer comes later, without holding the program up; a
  // refusal counts as the tray going away.
  if (pending_ != nullptr)
    pending_ = sd_bus_slot_unref(pending_);
  registered_ =
      sd_bus_call_method_async(bus_, &pending_, kWatcher, kWatcherPath,
                               kWatcher, "RegisterStatusNotifierItem", Answered,
                               this, "s", service_.c_str()) >= 0;
  return registered_;
}

void StatusItem::OnAnswer(bool refused) {
  if (pending_ != nullptr)
    pending_ = sd_bus_slot_unref(pending_);
  if (refused && registered_) {
    registered_ = false;
    portable::TrayGone();
  }
}

void StatusItem::OnWatcherOwner(bool present) {
  if (present) {
    // A new watcher knows no items: the program adds its icon again.
    portable::TrayCreated();
  } else if (registered_) {
    registered_ = false;
    portable::TrayGone();
  }
}

int StatusItem::Fd() { return lost_ ? -1 : sd_bus_get_fd(bus_); }

int StatusItem::Events() {
  const int e = sd_bus_get_events(bus_);
  return e < 0 ? 0 : e;
}

uint64_t StatusItem::Timeout() {
  uint64_t usec = UINT64_MAX;
  if (lost_ || sd_bus_get_timeout(bus_, &usec) < 0 || usec == UINT64_MAX)
    return UINT64_MAX;
  return usec / 1000;
}

void StatusItem::Process() {
  if (lost_)
    return;
  int r;
  while ((r = sd_bus_process(bus_, nullptr)) > 0) {
  }
  if (r < 0) {
    // The session bus went away: so did the tray.
    lost_ = true;
    if (registered_) {
      registered_ = false;
      portable::TrayGone();
    }
  }
}

bool WaylandDriver::Tray(DWORD message, const NOTIFYICONDATAA &data) {
  if (message == NIM_DELETE) {
    const bool had = tray_ != nullptr;
    tray_.reset();
    return had;
  }
  if (message == NIM_MODIFY)
    return tray_ != nullptr && tray_->Registered();
  if (message != NIM_ADD)
    return false;
  if (tray_ == nullptr) {
    tray_ = StatusItem::Create(this, data.szTip);
    if (tray_ == nullptr)
      return false; // no session bus
  }
  return tray_->Register();
}

void WaylandDriver::TrayActivated(int, int) {
  if (menu_ != nullptr) {
    CloseMenu(); // a click on the icon is a click outside the menu
    return;
  }
  portable::TrayClicked(WM_LBUTTONDOWN);
}

void WaylandDriver::TrayContextMenu(int x, int y) {
  if (menu_ != nullptr) {
    CloseMenu();
    return;
  }
  // The menu opens where the item says it was clicked, on the output. The
  // icon is on a bar outside the work area: a point above (left of) where
  // the work area could start says the bar is at the top (left), and the
  // work area starts after it.
  if (x >= 0 && y >= 0 && x < 65536 && y < 65536) {
    int w, h;
    ScreenSize(&w, &h);
    RECT work;
    WorkArea(&work);
    const int top = h - (work.bottom - work.top);
    const int left = w - (work.right - work.left);
    pointer_ = {origin_.x + (x < left ? x - left : x),
                origin_.y + (y < top ? y - top : y)};
    pointerIn_ = nullptr;
  }
  portable::TrayClicked(WM_RBUTTONUP);
}

} // namespace wayland
