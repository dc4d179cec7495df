#pragma once

#include <utility>

namespace zv {

template <typename T, T (*InvalidValue)()>
constexpr bool DiffersFromInvalid(T value) noexcept {
    return value != InvalidValue();
}

// Move-only owner of one operating-system resource. Close is a function object type that releases
// the value; InvalidValue() is what an empty owner holds. Owns(value) tells whether a value is a
// resource at all: by default anything but InvalidValue(), but a kind whose platform calls answer
// "nothing" in more than one way (kernel handles: null from most calls, INVALID_HANDLE_VALUE from
// CreateFileW) counts every such answer as nothing, so an owner of the wrong kind still never
// treats a failed call's answer as a resource. Releasing never runs on a value it does not own. A
// Close that talks to the platform (see unique_handle.h) keeps the thread's last error intact, so
// an owner going out of scope on a failure path never replaces the error being reported.
template <typename T, typename Close, T (*InvalidValue)(), bool (*Owns)(T) = DiffersFromInvalid<T, InvalidValue>>
class UniqueResource {
public:
    UniqueResource() noexcept : value_(InvalidValue()) {}
    explicit UniqueResource(T value) noexcept : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~UniqueResource() { reset(); }

    [[nodiscard]] T get() const noexcept { return value_; }
    [[nodiscard]] bool valid() const noexcept { return Owns(value_); }
    explicit operator bool() const noexcept { return valid(); }

    // Gives up ownership without releasing.
    T release() noexcept { return std::exchange(value_, InvalidValue()); }

    // For a call that hands back the resource through an out-parameter: releases what is owned
    // and gives the place the call writes the new value to.
    [[nodiscard]] T* put() noexcept {
        reset();
        return &value_;
    }

    // Releases what is owned (if anything) and takes value.
    void reset(T value = InvalidValue()) noexcept {
        T old = std::exchange(value_, value);
        if (Owns(old)) {
            Close{}(old);
        }
    }

private:
    T value_;
};

}  // namespace zv
