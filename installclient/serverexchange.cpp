#include "serverexchange.h"
#include <stddef.h>

const WCHAR kServerClassName[] = L"VORN ACPI SERVER CLASS";

namespace {

const WCHAR kRequestBlockName[] = L"926d2da0-c324-3ba9-cda7-5a4ab239b6de";
const UINT WM_SERVER_REQUEST = WM_USER + 0x255;
// A real server answers from its ACPI driver within milliseconds, so only a stuck server ever
// reaches this limit; ten seconds is the same grace the client gives the server to start up.
// SMTO_ABORTIFHUNG gives up at once on a server that has already stopped answering, so one
// stuck server costs the run about one limit, not one per request.
const UINT kServerReplyTimeoutMs = 10000;
const DWORD kFinalPauseMs = 1000;

enum : UINT16 {
    kRegisterCommand = 1,
    kUnregisterCommand = 2,
    kCodeCommand = 3,
};

// The record as it lies in the block: little-endian, the fields one after the other.
struct ServerRequest
{
    UINT32 subject;
    UINT32 count;
    UINT32 argument;
    UINT32 value;
    UINT16 command;
    UINT16 reserved;
    UINT32 status;
};
static_assert(sizeof(ServerRequest) == 24, "the server reads exactly 24 bytes");
static_assert(offsetof(ServerRequest, subject) == 0 && offsetof(ServerRequest, count) == 4 &&
                  offsetof(ServerRequest, argument) == 8 && offsetof(ServerRequest, value) == 12 &&
                  offsetof(ServerRequest, command) == 16 && offsetof(ServerRequest, reserved) == 18 &&
                  offsetof(ServerRequest, status) == 20,
              "the server reads the fields at these offsets");

// Four ASCII characters in reading order, so that they lie in the block as they read.
constexpr UINT32 FourCharCode(const char (&code)[5])
{
    return static_cast<UINT32>(code[0]) | static_cast<UINT32>(code[1]) << 8 |
           static_cast<UINT32>(code[2]) << 16 | static_cast<UINT32>(code[3]) << 24;
}

const UINT32 kQueryCode = FourCharCode("QURY");
const UINT32 kDeviceSwitches[] = {FourCharCode("CAMS"), FourCharCode("WLDS"), FourCharCode("CRDS"),
                                  FourCharCode("MODS")};
static_assert(FourCharCode("CAMS") == 0x534D4143, "codes read as little-endian numbers");

// Closes the handle on every way out of the exchange.
class UniqueHandle
{
public:
    explicit UniqueHandle(HANDLE handle) : m_handle(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle()
    {
        if (m_handle)
            CloseHandle(m_handle);
    }
    HANDLE get() const { return m_handle; }

private:
    HANDLE m_handle;
};

// Each copy maps exactly one record; a block too small for it (made by some other program)
// cannot be mapped, and the exchange ends there.
bool CopyIntoBlock(HANDLE block, const ServerRequest& request)
{
    void* view = MapViewOfFile(block, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(ServerRequest));
    if (!view)
        return false;
    *static_cast<ServerRequest*>(view) = request;
    UnmapViewOfFile(view);
    return true;
}

bool CopyFromBlock(HANDLE block, ServerRequest& request)
{
    void* view = MapViewOfFile(block, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(ServerRequest));
    if (!view)
        return false;
    request = *static_cast<const ServerRequest*>(view);
    UnmapViewOfFile(view);
    return true;
}

// Announces the request and waits, at most kServerReplyTimeoutMs in all, until the server has
// finished with the block. The send can fail while the server is still at work on the request
// (other programs flooding the client window with messages while it waits can end the wait
// early); the server has finished with the block once it answers a message sent after it.
bool AwaitServerReply(HWND server)
{
    DWORD start = GetTickCount();
    DWORD_PTR ignored = 0;
    if (SendMessageTimeoutW(server, WM_SERVER_REQUEST, 0, 0, SMTO_ABORTIFHUNG, kServerReplyTimeoutMs, &ignored))
        return true;
    DWORD waited = GetTickCount() - start;
    return waited < kServerReplyTimeoutMs &&
           SendMessageTimeoutW(server, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kServerReplyTimeoutMs - waited, &ignored);
}

// Sends one request; afterwards the record holds the server's reply. True when the reply's
// status is nonzero. When the block cannot be used or the server does not answer in time, the
// record is left as it was and the result is false.
bool ExchangeServerRequest(ServerRequest& request, HWND server)
{
    // Opens the block when the server (or anybody) made it already; either way it is ours to write.
    UniqueHandle block(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          sizeof(ServerRequest), kRequestBlockName));
    if (!block.get() || !CopyIntoBlock(block.get(), request))
        return false;

    // The block stays open, and unmapped, while the server reads and rewrites it.
    if (!AwaitServerReply(server))
        return false;
    return CopyFromBlock(block.get(), request) && request.status != 0;
}

} // namespace

HWND g_serverWindow;

HWND RegisterWithServer(HWND client)
{
    HWND server = FindWindowW(kServerClassName, nullptr);
    if (!server)
        return nullptr;

    ServerRequest request = {};
    request.command = kRegisterCommand;
    // Window handles carry 32 significant bits in 64-bit processes too.
    request.subject = static_cast<UINT32>(reinterpret_cast<UINT_PTR>(client));
    // The server is used even when it refuses the registration.
    ExchangeServerRequest(request, server);
    return server;
}

void EnableDeviceSwitches()
{
    // One record for the whole sequence: value, reserved and status travel on from each reply
    // into the next request.
    ServerRequest request = {};
    for (UINT32 code : kDeviceSwitches) {
        request.command = kCodeCommand;
        request.subject = kQueryCode;
        request.count = 1;
        request.argument = code;
        if (ExchangeServerRequest(request, g_serverWindow) && request.value != 0) {
            // The set keeps value, command, reserved and status as the query's reply left them.
            request.subject = code;
            request.count = 1;
            request.argument = 1;
            ExchangeServerRequest(request, g_serverWindow);
        }
    }
    Sleep(kFinalPauseMs);
}

void UnregisterFromServer()
{
    HWND server = FindWindowW(kServerClassName, nullptr);
    if (!server)
        return;

    ServerRequest request = {};
    request.command = kUnregisterCommand;
    ExchangeServerRequest(request, server);
}
