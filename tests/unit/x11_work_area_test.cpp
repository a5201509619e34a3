// A monitor's work area on X11: published areas met with the monitor, or
// the monitor less the docks' struts (i3).
#include <gtest/gtest.h>

#include "platform/x11/x11_work_area.h"

namespace {

using x11::LessStruts;
using x11::PublishedWorkArea;
using x11::Strut;
using x11::StrutFrom;

bool Same(const RECT &a, const RECT &b) {
  return a.left == b.left && a.top == b.top && a.right == b.right &&
         a.bottom == b.bottom;
}

// Two monitors of different heights side by side: 1024 x 768 and, to its
// right, 800 x 600; the screen is 1824 x 768.
const RECT kLeft = {0, 0, 1024, 768};
const RECT kRight = {1024, 0, 1824, 600};

TEST(X11WorkArea, ABarReservesItsEdgeOnlyOnTheMonitorsItSpans) {
  // i3bar at the bottom of the left monitor: 20 rows, x 0 to 1023.
  const Strut bottom =
      StrutFrom({0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0, 1023}, 1824, 768);
  EXPECT_TRUE(Same(LessStruts(kLeft, {bottom}, 1824, 768), {0, 0, 1024, 748}));
  EXPECT_TRUE(Same(LessStruts(kRight, {bottom}, 1824, 768), kRight));
  // At the bottom of the right monitor (rows 580 to 599): 188 rows from
  // the screen's bottom, x 1024 to 1823; its span ends one short of the
  // left monitor's right edge and begins on the right one's first column.
  const Strut right =
      StrutFrom({0, 0, 0, 188, 0, 0, 0, 0, 0, 0, 1024, 1823}, 1824, 768);
  EXPECT_TRUE(
      Same(LessStruts(kRight, {right}, 1824, 768), {1024, 0, 1824, 580}));
  EXPECT_TRUE(Same(LessStruts(kLeft, {right}, 1824, 768), kLeft));
  // A top bar across both; _NET_WM_STRUT (4 values) spans whole edges.
  const Strut top = StrutFrom({0, 0, 24, 0}, 1824, 768);
  EXPECT_TRUE(
      Same(LessStruts(kLeft, {top, bottom}, 1824, 768), {0, 24, 1024, 748}));
  EXPECT_TRUE(
      Same(LessStruts(kRight, {top}, 1824, 768), {1024, 24, 1824, 600}));
  // Side docks.
  const Strut sides =
      StrutFrom({30, 40, 0, 0, 0, 767, 0, 767, 0, 0, 0, 0}, 1824, 768);
  EXPECT_TRUE(Same(LessStruts(kLeft, {sides}, 1824, 768), {30, 0, 1024, 768}));
  EXPECT_TRUE(
      Same(LessStruts(kRight, {sides}, 1824, 768), {1024, 0, 1784, 600}));
}

TEST(X11WorkArea, NonsenseStrutsLeaveTheMonitor) {
  // Thicker than the screen, or leaving nothing: ignored.
  EXPECT_TRUE(Same(
      LessStruts(kLeft, {StrutFrom({0, 0, 0, 5000}, 1824, 768)}, 1824, 768),
      kLeft));
  EXPECT_TRUE(Same(LessStruts(kRight,
                              {StrutFrom({0, 0, 300, 0}, 1824, 768),
                               StrutFrom({0, 0, 0, 468}, 1824, 768)},
                              1824, 768),
                   kRight));
  EXPECT_TRUE(Same(LessStruts(kLeft, {StrutFrom({1, 2}, 1824, 768)}, 1824, 768),
                   kLeft)); // too few values
}

TEST(X11WorkArea, APublishedAreaIsMetWithTheMonitor) {
  // _NET_WORKAREA spans both monitors, less a bottom panel 40 high: on
  // the right, shorter monitor it must not reach into the dead zone.
  const RECT screen = {0, 0, 1824, 728};
  EXPECT_TRUE(Same(PublishedWorkArea(kLeft, {screen}), {0, 0, 1024, 728}));
  EXPECT_TRUE(Same(PublishedWorkArea(kRight, {screen}), kRight));
  // GTK's per-monitor areas: each monitor takes the one it holds most of.
  const std::vector<RECT> gtk = {{0, 0, 1024, 728}, {1024, 30, 1824, 600}};
  EXPECT_TRUE(Same(PublishedWorkArea(kLeft, gtk), {0, 0, 1024, 728}));
  EXPECT_TRUE(Same(PublishedWorkArea(kRight, gtk), {1024, 30, 1824, 600}));
  // None overlapping: the monitor.
  EXPECT_TRUE(Same(PublishedWorkArea(kRight, {{0, 0, 1024, 728}}), kRight));
}

} // namespace
