#include "record.h"
#include <cstdio>
#include <cstring>
#include <cstddef>

const RecordField kRecordFields[7] = {
    {"subject", offsetof(ServerRecord, subject), 4},   {"count", offsetof(ServerRecord, count), 4},
    {"argument", offsetof(ServerRecord, argument), 4}, {"value", offsetof(ServerRecord, value), 4},
    {"command", offsetof(ServerRecord, command), 2},   {"reserved", offsetof(ServerRecord, reserved), 2},
    {"status", offsetof(ServerRecord, status), 4},
};

UINT32 FieldValue(const ServerRecord& record, const RecordField& field)
{
    UINT32 value = 0;
    memcpy(&value, reinterpret_cast<const BYTE*>(&record) + field.offset, field.width);
    return value;
}

void SetField(ServerRecord& record, const RecordField& field, UINT32 value)
{
    memcpy(reinterpret_cast<BYTE*>(&record) + field.offset, &value, field.width);
}

std::string FormatRecord(const ServerRecord& record)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&record);
    std::string hex;
    char byte[3];
    for (const RecordField& field : kRecordFields) {
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
    for (const RecordField& field : kRecordFields) {
        for (size_t i = 0; i < field.width && at + 2 * i + 2 <= hex.size(); ++i)
            bytes[field.offset + i] = static_cast<BYTE>(std::stoul(hex.substr(at + 2 * i, 2), nullptr, 16));
        at += 2 * field.width + 1;
    }
    return record;
}
