// Another program's object under the request block's name, made before the client runs and held
// while the holder lives: a section of any size, protection or security, backed by the page file
// or by a file, or another kind of object altogether.
#pragma once
#include <windows.h>
#include "handles.h"

class BlockSquat
{
public:
    enum class Backing { PageFile, File };

    // A section of the given size; where the squatter may write it, it is filled with a pattern that
    // any byte written by somebody else changes. sddl: a security descriptor, or null for the default.
    BlockSquat(DWORD size, DWORD protect, const wchar_t* sddl, Backing backing = Backing::PageFile);
    // Another kind of object, made by the caller under kRequestBlockName.
    explicit BlockSquat(HANDLE other) : m_handle(other) {}

    bool Made() const { return m_handle && (m_size == 0 || m_view); }
    // 0 for an object that is no section.
    DWORD Size() const { return m_size; }
    // Bytes of the section, from the first one given, that differ from what the squatter left.
    DWORD ChangedFrom(DWORD first) const;
    // Whether this platform lets another program use the name as InstallZel does: open it as a
    // block of one record and map a view of it for reading and writing.
    static bool UsableAsBlock();

private:
    DWORD m_size = 0;
    unique_hfile m_file;
    unique_handle m_handle;
    unique_mapview_ptr m_view;
    BYTE m_pattern = 0;
};

// Objects of other kinds under the request block's name, as another program could make them.
struct OtherObject
{
    const char* what;
    HANDLE (*make)();
};
extern const OtherObject kOtherObjects[5];
