#include "record.h"
#include <cstdio>
#include <cstring>
#include <cstddef>

namespace {
struct FieldPlace
{
    size_t offset;
    size_t width;
};
const FieldPlace kFields[] = {
    {offsetof(ServerRecord, subject), 4}, {offsetof(ServerRecord, count), 4},   {offsetof(ServerRecord, argument), 4},
    {offsetof(ServerRecord, value), 4},   {offsetof(ServerRecord, command), 2}, {offsetof(ServerRecord, reserved), 2},
    {offsetof(ServerRecord, status), 4},
};
} // namespace

std::string FormatRecord(const ServerRecord& record)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&record);
    std::string hex;
    char byte[3];
    for (const FieldPlace& field : kFields) {
        if (!hex.empty())
            hex += ' ';
        for (size_t i = 0; i < field.width; ++i) {
            snprintf(byte, sizeof(byte), "%02X", bytes[field.offset + i]);
            hex += byte;
        }
    }
    return hex;
}

ServerRecord ParseRecord(const std::string& hex)
{
    ServerRecord record = {};
    BYTE* bytes = reinterpret_cast<BYTE*>(&record);
    size_t at = 0;
    for (const FieldPlace& field : kFields) {
        for (size_t i = 0; i < field.width && at + 2 * i + 2 <= hex.size(); ++i)
            bytes[field.offset + i] = static_cast<BYTE>(std::stoul(hex.substr(at + 2 * i, 2), nullptr, 16));
        at += 2 * field.width + 1;
    }
    return record;
}
