#include "core/splash_window_win.hpp"

#include <algorithm>
#include <cstring>

#include "core/payload.hpp"
#include "core/system_library_win.hpp"
#include "platform/text.hpp"

namespace brevlo {
namespace {

// The system calls the splash makes, taken from the libraries at run time so that a launcher
// imports none of them (SetThreadDpiAwarenessContext and GetDpiForWindow are Windows 10's and may
// be missing).
struct SplashCalls {
  decltype(&::SetThreadDpiAwarenessContext) set_dpi_awareness = nullptr;
  decltype(&::GetDpiForWindow) dpi_for_window = nullptr;
  decltype(&::GetCursorPos) cursor_pos = nullptr;
  decltype(&::MonitorFromPoint) monitor_from_point = nullptr;
  decltype(&::GetMonitorInfoW) monitor_info = nullptr;
  decltype(&::DefWindowProcW) default_procedure = nullptr;
  decltype(&::RegisterClassExW) register_class = nullptr;
  decltype(&::UnregisterClassW) unregister_class = nullptr;
  decltype(&::CreateWindowExW) create_window = nullptr;
  decltype(&::DestroyWindow) destroy_window = nullptr;
  decltype(&::UpdateLayeredWindow) update_layered = nullptr;
  decltype(&::ShowWindow) show_window = nullptr;
  decltype(&::MsgWaitForMultipleObjects) wait_with_messages = nullptr;
  decltype(&::PeekMessageW) peek_message = nullptr;
  decltype(&::DispatchMessageW) dispatch_message = nullptr;
  decltype(&::CreateCompatibleDC) create_dc = nullptr;
  decltype(&::DeleteDC) delete_dc = nullptr;
  decltype(&::CreateDIBSection) create_dib = nullptr;
  decltype(&::SelectObject) select_object = nullptr;
  decltype(&::DeleteObject) delete_object = nullptr;
  decltype(&::GdiAlphaBlend) alpha_blend = nullptr;

  bool load() {
    const HMODULE user32 = load_system_library(ModuleLookup{}, L"user32.dll");
    const HMODULE gdi32 = load_system_library(ModuleLookup{}, L"gdi32.dll");
    find_call(user32, "SetThreadDpiAwarenessContext", set_dpi_awareness);
    find_call(user32, "GetDpiForWindow", dpi_for_window);
    return find_call(user32, "GetCursorPos", cursor_pos) &&
           find_call(user32, "MonitorFromPoint", monitor_from_point) &&
           find_call(user32, "GetMonitorInfoW", monitor_info) &&
           find_call(user32, "DefWindowProcW", default_procedure) &&
           find_call(user32, "RegisterClassExW", register_class) &&
           find_call(user32, "UnregisterClassW", unregister_class) &&
           find_call(user32, "CreateWindowExW", create_window) &&
           find_call(user32, "DestroyWindow", destroy_window) &&
           find_call(user32, "UpdateLayeredWindow", update_layered) &&
           find_call(user32, "ShowWindow", show_window) &&
           find_call(user32, "MsgWaitForMultipleObjects", wait_with_messages) &&
           find_call(user32, "PeekMessageW", peek_message) &&
           find_call(user32, "DispatchMessageW", dispatch_message) &&
           find_call(gdi32, "CreateCompatibleDC", create_dc) &&
           find_call(gdi32, "DeleteDC", delete_dc) &&
           find_call(gdi32, "CreateDIBSection", create_dib) &&
           find_call(gdi32, "SelectObject", select_object) &&
           find_call(gdi32, "DeleteObject", delete_object) &&
           find_call(gdi32, "GdiAlphaBlend", alpha_blend);
  }
};

// What a call of a run-time loaded library made, given back with that library's call.
template <class T, class Release>
using Made = UniqueResource<T, LoadedClose<T, Release>>;

// A memory device context holding a 32-bit top-down bitmap of width by height; pixels is where
// the bitmap's bytes are. The bitmap is selected out again before both are deleted.
struct Canvas {
  const SplashCalls& calls;
  Made<HDC, decltype(&::DeleteDC)> dc;
  void* pixels = nullptr;
  Made<HBITMAP, decltype(&::DeleteObject)> bitmap;
  HGDIOBJ previous = nullptr;

  Canvas(const SplashCalls& c, int width, int height)
      : calls(c), dc(c.create_dc(nullptr), {c.delete_dc}),
        bitmap(make(c, width, height, pixels), {c.delete_object}) {
    if (dc && bitmap) previous = calls.select_object(dc.get(), bitmap.get());
  }
  ~Canvas() {
    if (previous != nullptr) calls.select_object(dc.get(), previous);
  }
  bool ready() const { return previous != nullptr && pixels != nullptr; }

  static HBITMAP make(const SplashCalls& c, int width, int height, void*& pixels) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows, as stored
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return c.create_dib(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  }
};

constexpr wchar_t kClassName[] = L"brevlo-splash";
// The awareness contexts of per-monitor DPI, version 2 (Windows 10 1703) and version 1.
const auto kPerMonitorAwareV2 = reinterpret_cast<DPI_AWARENESS_CONTEXT>(-4);
const auto kPerMonitorAware = reinterpret_cast<DPI_AWARENESS_CONTEXT>(-3);

// Shows the image in a window of the class kClassName on the work area work until closing is
// released; returns at the first failure.
void present(const SplashCalls& calls, const SplashImage& image, const std::u16string& title,
             const RECT& work, HINSTANCE instance, HANDLE closing) {
  // Made on the monitor first, to learn its DPI; sized and shown once the bitmap is ready.
  const Made<HWND, decltype(&::DestroyWindow)> window(
      calls.create_window(WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kClassName,
                          as_wide(title), WS_POPUP, (work.left + work.right) / 2,
                          (work.top + work.bottom) / 2, 1, 1, nullptr, nullptr, instance, nullptr),
      {calls.destroy_window});
  if (!window) return;
  const UINT dpi = calls.dpi_for_window != nullptr ? calls.dpi_for_window(window.get()) : 0;
  // The image's pixels are 96-DPI pixels; at most 70% of the work area either way.
  const double scale = std::min({dpi != 0 ? dpi / 96.0 : 1.0,
                                 0.7 * (work.right - work.left) / image.width,
                                 0.7 * (work.bottom - work.top) / image.height});
  const int image_width = static_cast<int>(image.width);
  const int image_height = static_cast<int>(image.height);
  const int width = std::max(1, static_cast<int>(image_width * scale + 0.5));
  const int height = std::max(1, static_cast<int>(image_height * scale + 0.5));

  const Canvas source(calls, image_width, image_height);
  if (!source.ready()) return;
  std::memcpy(source.pixels, image.pixels.data(), image.pixels.size());
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  const bool same = width == image_width && height == image_height;
  const Canvas scaled(calls, same ? 1 : width, same ? 1 : height);
  if (!same && (!scaled.ready() ||
                !calls.alpha_blend(scaled.dc.get(), 0, 0, width, height, source.dc.get(), 0, 0,
                                   image_width, image_height, blend))) {
    return;
  }
  POINT position{work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2};
  SIZE size{width, height};
  POINT origin{0, 0};
  if (!calls.update_layered(window.get(), nullptr, &position, &size,
                            same ? source.dc.get() : scaled.dc.get(), &origin, 0, &blend,
                            ULW_ALPHA)) {
    return;
  }
  calls.show_window(window.get(), SW_SHOWNOACTIVATE);
  // Once seen, long enough to be seen: the request to close waits until then.
  ::Sleep(SplashWindow::kSplashShownAtLeastMs);
  while (calls.wait_with_messages(1, &closing, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    MSG message;
    while (calls.peek_message(&message, nullptr, 0, 0, PM_REMOVE)) calls.dispatch_message(&message);
  }
}

}  // namespace

void SplashWindow::open(SplashImage image, std::u16string title) {
  if (thread_) return;
  // Not imported: only a launcher that shows a splash starts a thread.
  decltype(&::CreateThread) create_thread = nullptr;
  if (!find_call(::GetModuleHandleW(L"kernel32.dll"), "CreateThread", create_thread)) return;
  image_ = image;
  title_ = std::move(title);
  closing_.reset(::CreateSemaphoreW(nullptr, 0, 1, nullptr));
  if (!closing_) return;
  thread_.reset(create_thread(nullptr, 0, &SplashWindow::run, this, 0, nullptr));
  if (!thread_) closing_.reset();
}

void SplashWindow::close() {
  if (!thread_) return;
  ::ReleaseSemaphore(closing_.get(), 1, nullptr);
  ::WaitForSingleObject(thread_.get(), INFINITE);
  thread_.reset();
  closing_.reset();
}

DWORD WINAPI SplashWindow::run(void* self) {
  auto& splash = *static_cast<SplashWindow*>(self);
  // A fast installation ends before the splash would appear, and nothing is shown.
  if (::WaitForSingleObject(splash.closing_.get(), kSplashDelayMs) == WAIT_TIMEOUT) splash.show();
  return 0;
}

void SplashWindow::show() {
  SplashCalls calls;
  if (!calls.load()) return;
  // Sizes and positions in this thread's windows are the monitors' own pixels.
  if (calls.set_dpi_awareness != nullptr &&
      calls.set_dpi_awareness(kPerMonitorAwareV2) == nullptr) {
    calls.set_dpi_awareness(kPerMonitorAware);
  }
  POINT pointer{};
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!calls.cursor_pos(&pointer) ||
      !calls.monitor_info(calls.monitor_from_point(pointer, MONITOR_DEFAULTTONEAREST), &monitor)) {
    return;
  }
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = calls.default_procedure;
  window_class.hInstance = instance;
  window_class.lpszClassName = kClassName;
  if (calls.register_class(&window_class) == 0) return;
  present(calls, image_, title_, monitor.rcWork, instance, closing_.get());
  calls.unregister_class(kClassName, instance);
}

}  // namespace brevlo
