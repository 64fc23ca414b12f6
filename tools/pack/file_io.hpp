#pragma once
// Input files mapped where they lie and output written from start to end under a temporary name,
// for brevlo-pack. Paths are UTF-8 (WTF-8 on Windows, where they are used through the wide file
// API); failures are the system's reason as text. Whatever the size of an input, resident memory
// stays bounded: a large file is read once from start to end in windows whose pages are released
// after use.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "pack/pack_error.hpp"
#include "pack/pe_format.hpp"

namespace brevlo::pack {

// The bytes of a file, mapped read-only (or, for what cannot be mapped, read), released with the
// object.
class FileBytes {
 public:
  // How the bytes are given back (unmapped or freed), and how pages of a mapping are dropped.
  struct Release {
    void (*whole)(std::uint8_t* data, std::size_t size) = nullptr;
    void (*pages)(std::uint8_t* data, std::size_t size) = nullptr;  // nullptr: not mapped
  };

  FileBytes() = default;
  FileBytes(std::uint8_t* data, std::size_t size, Release release)
      : data_(data), size_(size), release_(release) {}
  FileBytes(FileBytes&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        release_(std::exchange(other.release_, {})) {}
  FileBytes& operator=(FileBytes&& other) noexcept {
    if (this != &other) {
      reset();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      release_ = std::exchange(other.release_, {});
    }
    return *this;
  }
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  ~FileBytes() { reset(); }

  Bytes bytes() const { return {data_, size_}; }

  // Drops the pages that hold part, when part lies in this mapping: they are read from the file
  // again if touched later. Anything else is left alone.
  void release_pages(Bytes part) const {
    if (release_.pages == nullptr || part.empty() || part.data() < data_ ||
        part.data() + part.size() > data_ + size_) {
      return;
    }
    release_.pages(data_ + (part.data() - data_), part.size());
  }

 private:
  void reset() {
    if (release_.whole != nullptr) release_.whole(data_, size_);
    data_ = nullptr;
    size_ = 0;
    release_ = {};
  }

  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  Release release_{};
};

// Maps a file (a pipe or anything else that cannot be mapped is read to its end); the reason when
// it cannot be opened or read (a folder cannot).
[[nodiscard]] PackResult<FileBytes> read_whole_file(const std::string& path);

// A file written from start to end under a temporary name in path's folder; commit() closes it
// and renames it over path. Until then, and on any failure, path is left as it was, and the
// temporary file is removed when the object goes.
class OutputFile {
 public:
  [[nodiscard]] static PackResult<OutputFile> create(const std::string& path);
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&&) = delete;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // Appends bytes.
  [[nodiscard]] PackResult<void> write(Bytes bytes);
  // Writes bytes over what was written at offset.
  [[nodiscard]] PackResult<void> write_at(std::uint64_t offset, Bytes bytes);
  // Closes the file and puts it in place of path.
  [[nodiscard]] PackResult<void> commit();

 private:
  struct State;
  explicit OutputFile(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace brevlo::pack
