// InstallZel's requests as the Vorn ACPI server receives them: a 24-byte record in a named shared
// block, announced to the server's window with a message. This is the server's side of the
// protocol, for the stand-in and the tests; InstallZel keeps its own definition
// (installclient/serverexchange.cpp), so that a mistake in one is not copied into the other. The
// tests that compare logged requests with literal bytes hold both to the protocol.
#pragma once
#include <windows.h>
#include <string>

constexpr char kAcpiServerClass[] = "VORN ACPI SERVER CLASS";
constexpr wchar_t kAcpiServerClassW[] = L"VORN ACPI SERVER CLASS";
constexpr wchar_t kRequestBlockName[] = L"926d2da0-c324-3ba9-cda7-5a4ab239b6de";
constexpr UINT kServerRequestMessage = WM_USER + 0x255;

// Little-endian, the fields one after the other. What the client puts in each:
struct ServerRecord
{
    UINT32 subject;   // QURY in a query, the switch's code in a set, the client window at registration
    UINT32 count;     // 1 in a query and a set
    UINT32 argument;  // the switch's code in a query, 1 in a set
    UINT32 value;     // carried over from the reply before; in a query's reply, nonzero when the switch may be set
    UINT16 command;   // 1 register, 2 unregister, 3 query; a set keeps what the query's reply left
    UINT16 reserved;  // carried over from the reply before
    UINT32 status;    // carried over from the reply before; nonzero in a reply that says yes
};
static_assert(sizeof(ServerRecord) == 24, "the block holds one 24-byte record");
constexpr DWORD kRecordSize = sizeof(ServerRecord);

// The fields by name, in block order, for a script that names them and for the log.
struct RecordField
{
    const char* name;
    size_t offset;
    size_t width;
};
extern const RecordField kRecordFields[7];
UINT32 FieldValue(const ServerRecord& record, const RecordField& field);
void SetField(ServerRecord& record, const RecordField& field, UINT32 value);

// Four ASCII characters as they lie in the block, read as a little-endian number.
constexpr UINT32 FourCharCode(const char* code)
{
    return static_cast<UINT32>(static_cast<unsigned char>(code[0])) |
           static_cast<UINT32>(static_cast<unsigned char>(code[1])) << 8 |
           static_cast<UINT32>(static_cast<unsigned char>(code[2])) << 16 |
           static_cast<UINT32>(static_cast<unsigned char>(code[3])) << 24;
}

// The 24 bytes in block order, grouped by field, as the stand-in logs them:
// "51555259 01000000 43414D53 00000000 0300 0000 00000000".
std::string FormatRecord(const ServerRecord& record);
ServerRecord ParseRecord(const std::string& hex);
