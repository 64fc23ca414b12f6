// Extraction: what the install path does with the embedded image (the installer stage's create,
// write in pieces, flush and close while a second thread checks the image's XXH3-128) against a
// plain CreateFileW + one WriteFile + FlushFileBuffers + CloseHandle of the same bytes,
// alternating, in one process. Prints one line per round and method in milliseconds, and the
// time of the check alone.
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "core/payload.hpp"
#include "core/image_digest.hpp"
#include "core/installer_stage_win.hpp"
#include "platform/byte_path_win.hpp"
#include "platform/handle_win.hpp"
#include "platform/text.hpp"
#include "platform/windows_api_win.hpp"

namespace {

double now_ms() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool plain_write(const std::wstring& path, std::span<const std::uint8_t> image) {
  brevlo::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 7, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!file) return false;
  DWORD written = 0;
  if (!WriteFile(file.get(), image.data(), static_cast<DWORD>(image.size()), &written, nullptr) ||
      written != image.size()) {
    return false;
  }
  return FlushFileBuffers(file.get()) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::span<const std::uint8_t> image = brevlo::embedded_installer_image();
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
  const std::string dir = argc > 2 ? argv[2] : ".";
  const std::string stage_path = dir + "\\stage_setup_temp.exe";
  const std::wstring plain_path = std::wstring(dir.begin(), dir.end()) + L"\\plain_setup_temp.exe";

  // One system write takes the whole image.
  {
    brevlo::UniqueHandle probe(CreateFileW(plain_path.c_str(), GENERIC_WRITE, 7, nullptr, CREATE_ALWAYS, 0, nullptr));
    auto written = brevlo::write_to_handle(probe.get(), image);
    std::printf("single-write %zu of %zu\n", written ? *written : 0, image.size());
  }
  for (int round = 0; round < rounds; ++round) {
    const double hash_start = now_ms();
    const brevlo::ImageDigest digest = brevlo::image_digest(image);
    const double hash_end = now_ms();
    double start = now_ms();
    const brevlo::PreparedInstaller written =
        brevlo::write_checked_installer(stage_path, image, digest);
    if (!written.intact || !written.written) return 1;
    const double end = now_ms();
    std::printf("stage %.3f\n", end - start);
    std::printf("hash %.3f\n", hash_end - hash_start);
    start = now_ms();
    if (!plain_write(plain_path, image)) return 1;
    std::printf("plain %.3f\n", now_ms() - start);
  }
  return 0;
}
