// Owners of kernel handles, mapped views and registry keys, for the programs, the installer's actions
// and the tests alike: closed on every way out of a scope, early returns and ASSERT returns included.
// Null marks no handle, except for files, where it is INVALID_HANDLE_VALUE.
#pragma once
#include <windows.h>
#include <utility>

template <typename Traits> class unique_resource
{
public:
    using value_type = typename Traits::value_type;

    unique_resource() = default;
    explicit unique_resource(value_type value) : m_value(value) {}
    unique_resource(unique_resource&& other) noexcept : m_value(other.release()) {}
    unique_resource& operator=(unique_resource&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~unique_resource() { reset(); }

    value_type get() const { return m_value; }
    // For a call that returns the value through a pointer: the old value is closed first.
    value_type* put()
    {
        reset();
        return &m_value;
    }
    explicit operator bool() const { return m_value != Traits::Invalid(); }
    value_type release() { return std::exchange(m_value, Traits::Invalid()); }
    void reset(value_type value = Traits::Invalid())
    {
        if (m_value != Traits::Invalid())
            Traits::Close(m_value);
        m_value = value;
    }

private:
    value_type m_value = Traits::Invalid();
};

struct HandleTraits
{
    using value_type = HANDLE;
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};

struct FileTraits : HandleTraits
{
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
};

struct KeyTraits
{
    using value_type = HKEY;
    static HKEY Invalid() { return nullptr; }
    static void Close(HKEY key) { RegCloseKey(key); }
};

struct ViewTraits
{
    using value_type = void*;
    static void* Invalid() { return nullptr; }
    static void Close(void* view) { UnmapViewOfFile(view); }
};

// Mutexes, events, file mappings, processes, threads.
using unique_handle = unique_resource<HandleTraits>;
// What CreateFile returns.
using unique_hfile = unique_resource<FileTraits>;
using unique_hkey = unique_resource<KeyTraits>;
using unique_mapview_ptr = unique_resource<ViewTraits>;
