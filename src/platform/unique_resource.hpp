#pragma once
// One owner for every resource the programs open: a handle, a key, a descriptor, a pointer from a
// C library. Each alias names the resource's type and its close; the owner closes what it holds
// when its scope ends, on normal paths and during a fatal stop alike.

#include <concepts>
#include <utility>

namespace brevlo {

// What UniqueResource needs of a close: calling it with a held value closes that value. It may
// carry state (a close function found at run time, say). It may also say which value means "none"
// (static T none(), else T{}) and which values are held (static bool holds(T), else any value but
// "none").
template <class Close, class T>
concept ResourceClose = std::invocable<const Close&, T>;

// Owns one value of type T and closes it with a Close object. Movable (the close moves with the
// value), not copyable; no implicit conversion to the raw value.
template <class T, ResourceClose<T> Close>
class UniqueResource {
 public:
  UniqueResource() noexcept = default;
  explicit UniqueResource(T value, Close close = Close{}) noexcept
      : value_(value), close_(std::move(close)) {}
  UniqueResource(UniqueResource&& other) noexcept
      : value_(other.release()), close_(std::move(other.close_)) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) {
      const T taken = other.release();
      reset();  // closed with this owner's own close, before that is replaced
      close_ = std::move(other.close_);
      value_ = taken;
    }
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  ~UniqueResource() { reset(); }

  // The value that means "no resource".
  static constexpr T none() noexcept {
    if constexpr (requires { Close::none(); }) {
      return Close::none();
    } else {
      return T{};
    }
  }

  // True when a resource is held.
  explicit operator bool() const noexcept { return holds(value_); }

  // The value, still owned here.
  T get() const noexcept { return value_; }

  // Gives the value up without closing it.
  [[nodiscard]] T release() noexcept { return std::exchange(value_, none()); }

  // Closes the held resource (if any) and takes value instead.
  void reset(T value = none()) noexcept {
    const T old = std::exchange(value_, value);
    if (holds(old)) close_(old);
  }

  // Closes the held resource and gives the slot for a call that returns one through a pointer.
  T* put() noexcept {
    reset();
    return &value_;
  }

 private:
  static bool holds(T value) noexcept {
    if constexpr (requires { Close::holds(value); }) {
      return Close::holds(value);
    } else {
      return value != none();
    }
  }

  T value_ = none();
  [[no_unique_address]] Close close_{};
};

}  // namespace brevlo
