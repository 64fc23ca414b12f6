#include "platform/byte_path_win.hpp"

#include <algorithm>

#include "platform/process.hpp"
#include "platform/write_all.hpp"

// ntdll exports NtWriteFile, but the headers of the build do not declare it.
extern "C" NTSTATUS NTAPI NtWriteFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc_routine,
                                      PVOID apc_context, PIO_STATUS_BLOCK io_status, PVOID buffer,
                                      ULONG length, PLARGE_INTEGER byte_offset, PULONG key);

namespace brevlo {
namespace {

constexpr NTSTATUS kStatusPending = 0x103;

}  // namespace

Result<std::size_t> write_to_handle(HANDLE handle, std::span<const std::uint8_t> bytes) {
  // Starts out pending, so a wait that returns before the system filled it in still reads as
  // pending.
  IO_STATUS_BLOCK io_status{};
  io_status.Status = kStatusPending;
  const auto length = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), 0xFFFFFFFF));
  NTSTATUS status = NtWriteFile(handle, nullptr, nullptr, nullptr, &io_status,
                                const_cast<std::uint8_t*>(bytes.data()), length, nullptr, nullptr);
  if (status == kStatusPending) {
    WaitForSingleObject(handle, INFINITE);
    status = io_status.Status;
  }
  if (status == kStatusPending) {
    fatal_runtime_exit(
        "fatal runtime error: I/O error: operation failed to complete synchronously\n");
  }
  if (!NT_SUCCESS(status)) return std::unexpected(Error::os(RtlNtStatusToDosError(status)));
  return static_cast<std::size_t>(io_status.Information);
}

Result<void> write_all_to_handle(HANDLE handle, std::span<const std::uint8_t> bytes) {
  return write_every_byte(bytes, [handle](std::span<const std::uint8_t> rest) {
    return write_to_handle(handle, rest);
  });
}

}  // namespace brevlo
