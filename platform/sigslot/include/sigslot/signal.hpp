#pragma once

// A small signal/slot header, interface-compatible with the part of the
// sigslot library that this program uses. The build prefers the real
// library wherever it is installed.
//
// Emission works on a snapshot of the slot list, taken under the signal's
// lock and called without it, so a slot may connect, disconnect or emit
// again without deadlocking; a slot connected during an emission runs from
// the next one on.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

namespace sigslot {

using group_id = std::int32_t;

namespace detail {

/** A lock that does nothing: for signals used from one thread only. */
struct null_mutex
{
    null_mutex() noexcept = default;
    null_mutex (const null_mutex&) = delete;
    null_mutex& operator= (const null_mutex&) = delete;
    null_mutex (null_mutex&&) = delete;
    null_mutex& operator= (null_mutex&&) = delete;

    void lock() noexcept {}
    void unlock() noexcept {}
    bool try_lock() noexcept { return true; }
};

class slot_state;

/** What a slot needs of the signal that owns it: a way to leave its list. */
class slot_owner
{
public:
    virtual void remove_slot (const slot_state* slot) noexcept = 0;

protected:
    ~slot_owner() = default;
};

class slot_state
{
public:
    slot_state (slot_owner* ownerToUse, group_id groupToUse) noexcept
        : owner (ownerToUse), group (groupToUse)
    {
    }

    virtual ~slot_state() = default;

    bool connected() const noexcept { return isConnected.load (std::memory_order_acquire); }
    bool blocked() const noexcept { return isBlocked.load (std::memory_order_acquire); }
    void block() noexcept { isBlocked.store (true, std::memory_order_release); }
    void unblock() noexcept { isBlocked.store (false, std::memory_order_release); }

    /** True only for the call that actually disconnected the slot. */
    bool disconnect() noexcept
    {
        if (! isConnected.exchange (false, std::memory_order_acq_rel))
            return false;

        owner->remove_slot (this);
        return true;
    }

    /** Marks the slot dead without touching the owner: used by the owner itself. */
    void mark_disconnected() noexcept { isConnected.store (false, std::memory_order_release); }

    group_id slot_group() const noexcept { return group; }

private:
    slot_owner* const owner;
    const group_id group;
    std::atomic<bool> isConnected { true };
    std::atomic<bool> isBlocked { false };
};

template <typename... T>
class slot final : public slot_state
{
public:
    template <typename Callable>
    slot (slot_owner* ownerToUse, group_id groupToUse, Callable&& callable)
        : slot_state (ownerToUse, groupToUse), function (std::forward<Callable> (callable))
    {
    }

    template <typename... U>
    void call (U&... args) const
    {
        function (args...);
    }

private:
    std::function<void (T...)> function;
};

} // namespace detail

/** A weak handle to one slot. Dropping it leaves the slot connected. */
class connection
{
public:
    connection() noexcept = default;

    explicit connection (std::weak_ptr<detail::slot_state> state) noexcept
        : slotState (std::move (state))
    {
    }

    bool valid() const noexcept { return ! slotState.expired(); }

    bool connected() const noexcept
    {
        const auto state = slotState.lock();
        return state != nullptr && state->connected();
    }

    bool disconnect() noexcept
    {
        const auto state = slotState.lock();
        return state != nullptr && state->disconnect();
    }

    bool blocked() const noexcept
    {
        const auto state = slotState.lock();
        return state != nullptr && state->blocked();
    }

    void block() noexcept
    {
        if (const auto state = slotState.lock())
            state->block();
    }

    void unblock() noexcept
    {
        if (const auto state = slotState.lock())
            state->unblock();
    }

protected:
    std::weak_ptr<detail::slot_state> slotState;
};

/** A connection that disconnects its slot when it goes out of scope. */
class scoped_connection : public connection
{
public:
    scoped_connection() noexcept = default;

    scoped_connection (const connection& other) noexcept : connection (other) {}
    scoped_connection (connection&& other) noexcept : connection (std::move (other)) {}

    scoped_connection (const scoped_connection&) = delete;
    scoped_connection& operator= (const scoped_connection&) = delete;

    scoped_connection (scoped_connection&& other) noexcept
        : connection (std::move (other.slotState))
    {
        other.slotState.reset();
    }

    scoped_connection& operator= (scoped_connection&& other) noexcept
    {
        if (this != &other)
        {
            disconnect();
            slotState = std::move (other.slotState);
            other.slotState.reset();
        }
        return *this;
    }

    ~scoped_connection() { disconnect(); }
};

template <typename Lockable, typename... T>
class signal_base final : private detail::slot_owner
{
    using slot_type = detail::slot<T...>;
    using slot_list = std::vector<std::shared_ptr<slot_type>>;

public:
    signal_base() noexcept = default;
    signal_base (const signal_base&) = delete;
    signal_base& operator= (const signal_base&) = delete;

    ~signal_base() { disconnect_all(); }

    /** Connects a member function of an object; the object's lifetime is not tracked. */
    template <typename MemberFunction, typename Object,
              typename = std::enable_if_t<std::is_member_function_pointer<MemberFunction>::value>>
    connection connect (MemberFunction pmf, Object* object, group_id group = 0)
    {
        return connect ([pmf, object] (auto&&... args) { (object->*pmf) (std::forward<decltype (args)> (args)...); },
                        group);
    }

    /** Connects a function, lambda or function object callable with the signal's arguments. */
    template <typename Callable,
              typename = std::enable_if_t<! std::is_member_function_pointer<std::decay_t<Callable>>::value>>
    connection connect (Callable&& callable, group_id group = 0)
    {
        detail::slot_owner* const owner = this;
        auto newSlot = std::make_shared<slot_type> (owner, group, std::forward<Callable> (callable));

        std::lock_guard<Lockable> guard (lock);
        auto updated = std::make_shared<slot_list> (*slots);

        // Groups run in ascending order; within a group, in connection order.
        auto position = updated->end();
        while (position != updated->begin() && (*(position - 1))->slot_group() > group)
            --position;

        updated->insert (position, newSlot);
        slots = std::move (updated);
        return connection (std::weak_ptr<detail::slot_state> (newSlot));
    }

    template <typename... U>
    void operator() (U&&... args) const
    {
        if (isBlocked.load (std::memory_order_acquire))
            return;

        std::shared_ptr<const slot_list> snapshot;
        {
            std::lock_guard<Lockable> guard (lock);
            snapshot = slots;
        }

        // Each slot is handed the arguments as lvalues, so a slot that takes
        // a parameter by value gets a copy of its own.
        for (const auto& each : *snapshot)
            if (each->connected() && ! each->blocked())
                each->call (args...);
    }

    void disconnect_all()
    {
        std::lock_guard<Lockable> guard (lock);
        for (const auto& each : *slots)
            each->mark_disconnected();
        slots = std::make_shared<slot_list>();
    }

    void block() noexcept { isBlocked.store (true, std::memory_order_release); }
    void unblock() noexcept { isBlocked.store (false, std::memory_order_release); }
    bool blocked() const noexcept { return isBlocked.load (std::memory_order_acquire); }

    std::size_t slot_count() const
    {
        std::lock_guard<Lockable> guard (lock);
        return slots->size();
    }

private:
    void remove_slot (const detail::slot_state* slotToRemove) noexcept override
    {
        std::lock_guard<Lockable> guard (lock);
        auto updated = std::make_shared<slot_list>();
        updated->reserve (slots->size());
        for (const auto& each : *slots)
            if (each.get() != slotToRemove)
                updated->push_back (each);
        slots = std::move (updated);
    }

    mutable Lockable lock;
    std::shared_ptr<const slot_list> slots = std::make_shared<slot_list>();
    std::atomic<bool> isBlocked { false };
};

template <typename... T>
using signal = signal_base<std::mutex, T...>;

template <typename... T>
using signal_st = signal_base<detail::null_mutex, T...>;

} // namespace sigslot
