// A fresh simulated desktop with no program running, for tests that call the
// program's routines one at a time.
#pragma once

#include <gtest/gtest.h>

#include <sstream>

#include "app/app.h"
#include "platform/portable/driver.h"
#include "platform/portable/testing.h"
#include "platform/portable/text.h"
#include "platform/sim/sim_driver.h"

// A window of our own (with the default behaviour unless a procedure is
// given), its class registered here.
inline HWND MakeTestWindow(const char *className, const char *title, int x,
                           int y, int width, int height,
                           WNDPROC proc = DefWindowProcA) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.lpszClassName = className;
  RegisterClassExA(&wc);
  return CreateWindowExA(0, className, title, WS_POPUP, x, y, width, height,
                         nullptr, nullptr, nullptr, nullptr);
}

class SimTest : public ::testing::Test {
protected:
  SimTest() : driver(log) {
    ResetProcessState();
    portable::ResetAll();
    portable::SetFontsEnabled(true);
    driver.Install();
  }
  ~SimTest() override {
    ResetProcessState();
    portable::SetDriver(nullptr);
    portable::ResetAll();
  }
  // The events logged since the last call.
  std::string TakeLog() {
    std::string text = log.str();
    log.str("");
    return text;
  }

  std::ostringstream log;
  sim::SimDriver driver;
};
