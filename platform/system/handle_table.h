// Handles that are numbers, never addresses: a stale or made-up handle is simply not in
// the table, so it is refused instead of being followed. Numbers are never reused.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace winplat {

template <class Handle, class Object> class HandleTable {
public:
    // first: the first number given out; numbers then go up by step.
    explicit HandleTable(uintptr_t first, uintptr_t step) : m_next(first - step), m_step(step) {}

    Handle Add(Object object) {
        std::lock_guard lock(m_mutex);
        m_next += m_step;
        m_objects.emplace(m_next, std::make_shared<Object>(std::move(object)));
        return reinterpret_cast<Handle>(m_next);
    }
    // Null for a handle that is not in the table.
    std::shared_ptr<Object> Find(Handle handle) {
        std::lock_guard lock(m_mutex);
        auto it = m_objects.find(reinterpret_cast<uintptr_t>(handle));
        return it == m_objects.end() ? nullptr : it->second;
    }
    bool Remove(Handle handle) {
        std::lock_guard lock(m_mutex);
        return m_objects.erase(reinterpret_cast<uintptr_t>(handle)) != 0;
    }

private:
    std::mutex m_mutex;
    uintptr_t m_next;
    const uintptr_t m_step;
    std::unordered_map<uintptr_t, std::shared_ptr<Object>> m_objects;
};

} // namespace winplat
