// Ownership of xcb answers: a reply freed however a function returns, and an error sink
// that takes a request's error so a vanished window is an empty answer, not an error event
// for Qt's handler to log.
#pragma once

#include <xcb/xcb.h>

#include <cstdlib>

template <typename T> struct Reply
{
    T *p = nullptr;
    explicit Reply(T *reply) : p(reply) {}
    ~Reply() { std::free(p); }
    Reply(const Reply &) = delete;
    Reply &operator=(const Reply &) = delete;
    T *operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

struct ErrorSink
{
    xcb_generic_error_t *error = nullptr;
    ~ErrorSink() { std::free(error); }
    operator xcb_generic_error_t **() { return &error; }
};
