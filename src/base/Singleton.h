#pragma once

// A class of which at most one object exists at a time. The object is
// reached through instance(); a second construction while one lives is an
// internal error that ends the program.

#include "base/Log.h"

#include <atomic>

namespace qv {

template <class T>
class Singleton {
public:
    Singleton(Singleton const&) = delete;
    Singleton& operator=(Singleton const&) = delete;

    // The living object, or nothing.
    static T* instance() { return static_cast<T*>(s_instance.load(std::memory_order_acquire)); }

protected:
    Singleton()
    {
        Singleton* expected = nullptr;
        if (!s_instance.compare_exchange_strong(expected, this, std::memory_order_acq_rel))
            report_fatal(u"Singleton::Singleton()", u"Singleton is already instantiated");
    }
    ~Singleton() { s_instance.store(nullptr, std::memory_order_release); }

private:
    // Kept as the base so that no cast to the unfinished derived object is
    // made while it is being built.
    static inline std::atomic<Singleton*> s_instance { nullptr };
};

}
