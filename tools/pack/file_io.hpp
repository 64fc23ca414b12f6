#pragma once
// Whole-file reading and all-or-nothing writing for brevlo-pack. Paths are UTF-8 (WTF-8 on
// Windows, where they are used through the wide file API); failures are the system's reason as
// text.

#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "pack/pe_format.hpp"

namespace brevlo::pack {

// The bytes of a file, read or mapped whole, and released with the object.
class FileBytes {
 public:
  // How the bytes are given back: unmapped or freed.
  using Release = void (*)(std::uint8_t* data, std::size_t size);

  FileBytes() = default;
  FileBytes(std::uint8_t* data, std::size_t size, Release release)
      : data_(data), size_(size), release_(release) {}
  FileBytes(FileBytes&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        release_(std::exchange(other.release_, nullptr)) {}
  FileBytes& operator=(FileBytes&& other) noexcept {
    if (this != &other) {
      reset();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      release_ = std::exchange(other.release_, nullptr);
    }
    return *this;
  }
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  ~FileBytes() { reset(); }

  Bytes bytes() const { return {data_, size_}; }

 private:
  void reset() {
    if (release_ != nullptr) release_(data_, size_);
    data_ = nullptr;
    size_ = 0;
    release_ = nullptr;
  }

  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  Release release_ = nullptr;
};

// Reads a whole file (on Linux a regular file is mapped, not copied); the reason when it cannot be
// opened or read (a folder cannot).
[[nodiscard]] std::expected<FileBytes, std::string> read_whole_file(const std::string& path);

// Writes the pieces, in order, to a new temporary file in path's folder and renames it over path
// once every byte is written and the file is closed. On any failure the temporary file is
// removed, path is left as it was, and the reason is returned.
[[nodiscard]] std::expected<void, std::string> write_file_replacing(const std::string& path,
                                                                    std::span<const Bytes> pieces);

}  // namespace brevlo::pack
