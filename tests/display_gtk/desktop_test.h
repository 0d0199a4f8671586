// What the desktop renderer's tests share: the renderer opened under the
// test's own X server (with_xvfb.sh), and the functions it exports for tests.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/ui/display.h"

// A fixture (over ::testing::Test or ::testing::TestWithParam<T>) whose
// SetUp opens the desktop renderer, or skips the test without an X server.
// A derived SetUp calls this one first and returns when it skipped or failed.
template <class Base = ::testing::Test>
class DesktopTest : public Base {
 protected:
  void SetUp() override {
    const char* x = std::getenv("DISPLAY");
    if (!x || !*x) GTEST_SKIP() << "no X server (run through with_xvfb.sh)";
    std::string error;
    platform::DisplayOptions options;
    options.name = "gtk";
    display_ = platform::open_display(options, error);
    ASSERT_TRUE(display_) << error;
  }
  bool set_up_failed() const { return this->IsSkipped() || this->HasFatalFailure(); }

  // A function the renderer exports for tests (nullptr when missing).
  template <class Fn>
  static Fn hook(const char* name) {
    void* lib = dlopen("libdisplay-gtk.so", RTLD_NOW | RTLD_NOLOAD);
    if (!lib) lib = dlopen(VLR_BIN_DIR "/libdisplay-gtk.so", RTLD_NOW | RTLD_NOLOAD);
    return lib ? reinterpret_cast<Fn>(dlsym(lib, name)) : nullptr;
  }

  std::unique_ptr<platform::LoadedDisplay> display_;
};
