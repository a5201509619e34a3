// The X11 host's screen: its monitors (RandR), each one's work area, and
// the pixels per inch the desktop asks for (Xft.dpi).
#include <X11/Xatom.h>
#include <X11/Xresource.h>
#include <X11/extensions/Xrandr.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/portable/host.h"
#include "platform/x11/x11_driver.h"
#include "platform/x11/x11_work_area.h"

namespace x11 {

bool X11Driver::WorkArea(RECT *area) {
  if (workAreaKnown_) {
    *area = workArea_;
    return true;
  }
  // Nothing publishes one (i3): the primary monitor's, less the docks.
  const std::vector<Monitor> monitors = Monitors();
  if (!monitors.empty()) {
    *area = monitors.front().work;
  } else {
    int w, h;
    ScreenSize(&w, &h);
    *area = {0, 0, w, h};
  }
  return true;
}

void X11Driver::ReadWorkArea() {
  workAreaKnown_ = false;
  monitorsStale_ = true;
  const long desktop = CurrentDesktop();
  char name[64];
  std::snprintf(name, sizeof name, "_GTK_WORKAREAS_D%ld", desktop);
  gtkWorkAreas_ = name;
  const std::vector<long> v =
      Property(root_, "_NET_WORKAREA", XA_CARDINAL, desktop * 4, 4);
  if (v.size() == 4 && v[2] > 0 && v[3] > 0 && v[2] <= 65535 && v[3] <= 65535) {
    workArea_ = {LONG(v[0]), LONG(v[1]), LONG(v[0] + v[2]), LONG(v[1] + v[3])};
    workAreaKnown_ = true;
  }
}

long X11Driver::CurrentDesktop() {
  const std::vector<long> current =
      Property(root_, "_NET_CURRENT_DESKTOP", XA_CARDINAL, 0, 1);
  const long desktop = current.size() == 1 ? current[0] : 0;
  return desktop < 0 || desktop > 1024 ? 0 : desktop;
}

void X11Driver::WatchMonitors() {
  int error = 0;
  randr_ = XRRQueryExtension(dpy_, &randrEvent_, &error) == True;
  if (randr_) {
    int major = 0, minor = 0;
    randr_ = XRRQueryVersion(dpy_, &major, &minor) != 0 &&
             (major > 1 || (major == 1 && minor >= 5));
  }
  if (randr_)
    XRRSelectInput(dpy_, root_,
                   RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask |
                       RROutputChangeNotifyMask);
}

// A dock came or went where the work area is the docks' struts.
void X11Driver::StrutsMayHaveChanged() {
  monitorsStale_ = true;
  portable::PostToTopLevelWindows(WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
}

// A RandR event: the monitors are read again, and the program told.
bool X11Driver::HandleRandr(XEvent &event) {
  if (!randr_ || event.type < randrEvent_ ||
      event.type > randrEvent_ + RRNotify)
    return false;
  XRRUpdateConfiguration(&event);
  monitorsStale_ = true;
  portable::PostToTopLevelWindows(WM_DISPLAYCHANGE, 24, 0);
  return true;
}

std::vector<portable::Driver::Monitor> X11Driver::Monitors() {
  if (monitorsStale_)
    ReadMonitors();
  return monitors_;
}

void X11Driver::ReadMonitors() {
  monitorsStale_ = false;
  monitors_.clear();
  int w, h;
  ScreenSize(&w, &h);
  if (randr_) {
    int count = 0;
    XRRMonitorInfo *info = XRRGetMonitors(dpy_, root_, True, &count);
    for (int i = 0; info != nullptr && i < count; ++i) {
      Monitor m;
      m.rect = {info[i].x, info[i].y, info[i].x + info[i].width,
                info[i].y + info[i].height};
      if (m.rect.right <= m.rect.left || m.rect.bottom <= m.rect.top)
        continue;
      // The primary first.
      if (info[i].primary)
        monitors_.insert(monitors_.begin(), m);
      else
        monitors_.push_back(m);
    }
    if (info != nullptr)
      XRRFreeMonitors(info);
  }
  if (monitors_.empty()) {
    Monitor whole;
    whole.rect = {0, 0, w, h};
    monitors_.push_back(whole);
  }
  // Each monitor's work area: GTK's per-monitor areas, else the one
  // published for the screen, met with the monitor, else the monitor less
  // the docks' struts.
  std::vector<RECT> published;
  const std::vector<long> gtk =
      Property(root_, gtkWorkAreas_.c_str(), XA_CARDINAL, 0, 4 * 64);
  for (size_t i = 0; i + 3 < gtk.size(); i += 4)
    if (gtk[i + 2] > 0 && gtk[i + 3] > 0)
      published.push_back({LONG(gtk[i]), LONG(gtk[i + 1]),
                           LONG(gtk[i] + gtk[i + 2]),
                           LONG(gtk[i + 1] + gtk[i + 3])});
  if (published.empty() && workAreaKnown_)
    published.push_back(workArea_);
  const std::vector<Strut> struts =
      published.empty() ? ReadStruts(w, h) : std::vector<Strut>();
  for (Monitor &m : monitors_)
    m.work = published.empty() ? LessStruts(m.rect, struts, w, h)
                               : PublishedWorkArea(m.rect, published);
}

// The struts of the mapped windows at the top of the tree (a dock, or a
// dock in the frame a window manager gave it).
std::vector<Strut> X11Driver::ReadStruts(long width, long height) {
  std::vector<Strut> struts;
  auto look = [&](::Window w) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(dpy_, w, &a) || a.map_state != IsViewable)
      return;
    std::vector<long> v =
        Property(w, "_NET_WM_STRUT_PARTIAL", XA_CARDINAL, 0, 12);
    if (v.size() != 12)
      v = Property(w, "_NET_WM_STRUT", XA_CARDINAL, 0, 4);
    if (v.size() == 12 || v.size() == 4)
      struts.push_back(StrutFrom(v, width, height));
  };
  ::Window rootReturn = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(dpy_, root_, &rootReturn, &parent, &children, &count))
    return struts;
  for (unsigned i = 0; i < count; ++i) {
    look(children[i]);
    ::Window *inner = nullptr;
    unsigned innerCount = 0;
    if (XQueryTree(dpy_, children[i], &rootReturn, &parent, &inner,
                   &innerCount)) {
      for (unsigned j = 0; j < innerCount; ++j)
        look(inner[j]);
      if (inner != nullptr)
        XFree(inner);
    }
  }
  if (children != nullptr)
    XFree(children);
  return struts;
}

// Xft.dpi, which desktops set to scale every program (192 for 2x).
int X11Driver::Dpi() {
  const char *resources = XResourceManagerString(dpy_);
  if (resources == nullptr)
    return 96;
  for (const char *line = resources; line != nullptr && *line != '\0';) {
    if (std::strncmp(line, "Xft.dpi:", 8) == 0) {
      const double dpi = std::strtod(line + 8, nullptr);
      return dpi >= 24 && dpi <= 1000 ? int(dpi + 0.5) : 96;
    }
    line = std::strchr(line, '\n');
    if (line != nullptr)
      ++line;
  }
  return 96;
}

} // namespace x11
