#pragma once
// Whole-file reading and all-or-nothing writing for brevlo-pack. Paths are UTF-8 (WTF-8 on
// Windows, where they are used through the wide file API); failures are the system's reason as
// text.

#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>

#include "pack/pe_format.hpp"

namespace brevlo::pack {

// The bytes of a file, in one buffer of exactly its size.
class FileBytes {
 public:
  FileBytes() = default;
  FileBytes(std::unique_ptr<std::uint8_t[]> data, std::size_t size)
      : data_(std::move(data)), size_(size) {}
  Bytes bytes() const { return {data_.get(), size_}; }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_ = 0;
};

// Reads a whole file; the reason when it cannot be opened or read (a folder cannot).
[[nodiscard]] std::expected<FileBytes, std::string> read_whole_file(const std::string& path);

// Writes the pieces, in order, to a new temporary file in path's folder and renames it over path
// once every byte is written and the file is closed. On any failure the temporary file is
// removed, path is left as it was, and the reason is returned.
[[nodiscard]] std::expected<void, std::string> write_file_replacing(const std::string& path,
                                                                    std::span<const Bytes> pieces);

}  // namespace brevlo::pack
