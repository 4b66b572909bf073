// A value or an error code, for APIs that report failures as codes rather than exceptions.
#pragma once

#include <utility>
#include <variant>

namespace simhost::cim {

template <class T, class E>
class Expected {
 public:
  Expected(T value) : data_(std::in_place_index<0>, std::move(value)) {}
  static Expected failure(E error) { return Expected(std::in_place_index<1>, std::move(error)); }

  bool has_value() const noexcept { return data_.index() == 0; }
  explicit operator bool() const noexcept { return has_value(); }

  T& value() & { return std::get<0>(data_); }
  const T& value() const& { return std::get<0>(data_); }
  T&& value() && { return std::get<0>(std::move(data_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  const E& error() const { return std::get<1>(data_); }

 private:
  template <std::size_t I, class U>
  Expected(std::in_place_index_t<I> tag, U&& u) : data_(tag, std::forward<U>(u)) {}
  std::variant<T, E> data_;
};

}  // namespace simhost::cim
