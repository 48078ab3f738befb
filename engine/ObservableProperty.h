#pragma once

#include <mutex>
#include <utility>

#include <sigslot/signal.hpp>

/**
    A value that announces its changes: AboutToChange carries the new value
    before it is stored, Changed carries it once stored.

    Set holds the lock from the comparison to the end of the Changed emission,
    so with a recursive mutex a slot may set the same property again on its own
    thread while other threads wait. Holders read `value` directly, on the
    thread that sets it.
*/
template <typename T, typename Lockable = std::recursive_mutex>
class ObservableProperty
{
public:
    explicit ObservableProperty (T initialValue = T()) : value (std::move (initialValue)) {}

    ObservableProperty (const ObservableProperty&) = delete;
    ObservableProperty& operator= (const ObservableProperty&) = delete;

    /** Stores and announces a value that differs (by T's own ==) from the stored one. */
    void Set (const T& newValue)
    {
        std::lock_guard<Lockable> guard (lock);

        if (newValue == value)
            return;

        AboutToChange (newValue);
        value = newValue;
        Changed (value);
    }

    sigslot::signal_base<Lockable, T> Changed;
    sigslot::signal_base<Lockable, T> AboutToChange;
    Lockable lock;
    T value;
};
