#pragma once
// The splash window a launcher packed with --splash shows while a silent installation runs.

#include <string>

#include "core/launch_environment.hpp"
#include "core/splash_image.hpp"
#include "platform/handle_win.hpp"

namespace brevlo {

// The splash, on a thread of its own that waits kSplashDelayMs for close(), then shows the image
// in a borderless, non-activating tool window (no task-bar button, not top-most) centred on the
// work area of the monitor holding the pointer, scaled for that monitor's DPI and down to at most
// 70% of the work area, until close(). user32 and gdi32 are loaded by that thread, from the system
// directory; whatever fails there (a library, a call) ends the thread without a window.
class SplashWindow final : public Held {
 public:
  SplashWindow() = default;
  SplashWindow(const SplashWindow&) = delete;
  SplashWindow& operator=(const SplashWindow&) = delete;
  ~SplashWindow() override { close(); }

  // Starts the thread for image (whose pixels outlive this object), the window titled title;
  // nothing when a thread is already running or cannot be started.
  void open(SplashImage image, std::u16string title);

  // Asks the thread to end and waits until it has: a window already shown stays up until it has
  // been shown kSplashShownAtLeastMs. Nothing when no thread runs.
  void close();

  static constexpr unsigned kSplashDelayMs = 1000;
  static constexpr unsigned kSplashShownAtLeastMs = 500;

 private:
  static DWORD WINAPI run(void* self);
  void show();

  SplashImage image_;
  std::u16string title_;
  UniqueHandle closing_;  // a semaphore, released once to ask the thread to end
  UniqueHandle thread_;
};

}  // namespace brevlo
