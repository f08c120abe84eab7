#include "blocksquat.h"
#include <sddl.h>
#include <cstring>
#include <vector>
#include "record.h"

namespace {

const BYTE kPattern = 0xA5;

// A temporary file of size bytes, gone once its last handle is closed.
HANDLE NewBackingFile(DWORD size)
{
    char directory[MAX_PATH] = {};
    char path[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, directory);
    GetTempFileNameA(directory, "blk", 0, path);
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    std::vector<BYTE> bytes(size);
    DWORD written = 0;
    WriteFile(file, bytes.data(), size, &written, nullptr);
    return file;
}

} // namespace

BlockSquat::BlockSquat(DWORD size, DWORD protect, const wchar_t* sddl, Backing backing) : m_size(size)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
    if (sddl && ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        attributes.lpSecurityDescriptor = descriptor;
    HANDLE source = INVALID_HANDLE_VALUE;
    if (backing == Backing::File) {
        m_file.reset(NewBackingFile(size));
        source = m_file.get();
    }
    // A file-backed section is sized by its file: a view larger than the file cannot be mapped.
    m_handle.reset(CreateFileMappingW(source, sddl ? &attributes : nullptr, protect, 0,
                                      backing == Backing::File ? 0 : size, kRequestBlockName));
    if (descriptor)
        LocalFree(descriptor);
    DWORD access = protect == PAGE_READONLY ? FILE_MAP_READ : FILE_MAP_READ | FILE_MAP_WRITE;
    if (m_handle)
        m_view.reset(MapViewOfFile(m_handle.get(), access, 0, 0, size));
    m_pattern = protect == PAGE_READONLY ? 0 : kPattern;
    if (m_view && m_pattern)
        memset(m_view.get(), m_pattern, size);
}

DWORD BlockSquat::ChangedFrom(DWORD first) const
{
    const BYTE* bytes = static_cast<const BYTE*>(m_view.get());
    DWORD changed = 0;
    for (DWORD i = first; bytes && i < m_size; ++i)
        changed += bytes[i] != m_pattern;
    return changed;
}

bool BlockSquat::UsableAsBlock()
{
    unique_handle block(
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kRecordSize, kRequestBlockName));
    unique_mapview_ptr view(block ? MapViewOfFile(block.get(), FILE_MAP_ALL_ACCESS, 0, 0, kRecordSize) : nullptr);
    return static_cast<bool>(view);
}

const OtherObject kOtherObjects[5] = {
    {"mutex", [] { return CreateMutexW(nullptr, FALSE, kRequestBlockName); }},
    {"event", [] { return CreateEventW(nullptr, TRUE, FALSE, kRequestBlockName); }},
    {"semaphore", [] { return CreateSemaphoreW(nullptr, 1, 1, kRequestBlockName); }},
    {"waitable timer", [] { return CreateWaitableTimerW(nullptr, TRUE, kRequestBlockName); }},
    {"job object", [] { return CreateJobObjectW(nullptr, kRequestBlockName); }},
};
