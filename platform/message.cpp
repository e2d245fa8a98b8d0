#include "platform/message.h"

#include <algorithm>
#include <iterator>

#include "platform/error.h"

namespace {

struct SystemMessage {
    DWORD code;
    const char16_t* text;
};

// Sorted by code.
constexpr SystemMessage kSystemMessages[] = {
    {0, u"The operation completed successfully.\r\n"},
    {1, u"Incorrect function.\r\n"},
    {2, u"The system cannot find the file specified.\r\n"},
    {3, u"The system cannot find the path specified.\r\n"},
    {4, u"The system cannot open the file.\r\n"},
    {5, u"Access is denied.\r\n"},
    {6, u"The handle is invalid.\r\n"},
    {8, u"Not enough memory resources are available to process this command.\r\n"},
    {11, u"An attempt was made to load a program with an incorrect format.\r\n"},
    {13, u"The data is invalid.\r\n"},
    {14, u"Not enough memory resources are available to complete this operation.\r\n"},
    {18, u"There are no more files.\r\n"},
    {21, u"The device is not ready.\r\n"},
    {29, u"The system cannot write to the specified device.\r\n"},
    {30, u"The system cannot read from the specified device.\r\n"},
    {32, u"The process cannot access the file because it is being used by another process.\r\n"},
    {33, u"The process cannot access the file because another process has locked a portion of "
         u"the file.\r\n"},
    {38, u"Reached the end of the file.\r\n"},
    {39, u"The disk is full.\r\n"},
    {50, u"The request is not supported.\r\n"},
    {80, u"The file exists.\r\n"},
    {87, u"The parameter is incorrect.\r\n"},
    {109, u"The pipe has been ended.\r\n"},
    {111, u"The file name is too long.\r\n"},
    {112, u"There is not enough space on the disk.\r\n"},
    {114, u"The target internal file identifier is incorrect.\r\n"},
    {122, u"The data area passed to a system call is too small.\r\n"},
    {123, u"The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {126, u"The specified module could not be found.\r\n"},
    {127, u"The specified procedure could not be found.\r\n"},
    {131, u"An attempt was made to move the file pointer before the beginning of the file.\r\n"},
    {145, u"The directory is not empty.\r\n"},
    {160, u"One or more arguments are not correct.\r\n"},
    {161, u"The specified path is invalid.\r\n"},
    {183, u"Cannot create a file when that file already exists.\r\n"},
    {206, u"The filename or extension is too long.\r\n"},
    {231, u"All pipe instances are busy.\r\n"},
    {232, u"The pipe is being closed.\r\n"},
    {233, u"No process is on the other end of the pipe.\r\n"},
    {234, u"More data is available.\r\n"},
    {259, u"No more data is available.\r\n"},
    {267, u"The directory name is invalid.\r\n"},
    {487, u"Attempt to access invalid address.\r\n"},
    {995, u"The I/O operation has been aborted because of either a thread exit or an "
          u"application request.\r\n"},
    {1004, u"Invalid flags.\r\n"},
    {1113, u"No mapping for the Unicode character exists in the target multi-byte code "
           u"page.\r\n"},
    {1168, u"Element not found.\r\n"},
    {1235, u"The request was aborted.\r\n"},
    {1460, u"This operation returned because the timeout period expired.\r\n"},
    {10004, u"A blocking operation was interrupted by a call to WSACancelBlockingCall.\r\n"},
    {10009, u"The file handle supplied is not valid.\r\n"},
    {10013, u"An attempt was made to access a socket in a way forbidden by its access "
            u"permissions.\r\n"},
    {10014, u"The system detected an invalid pointer address in attempting to use a pointer "
            u"argument in a call.\r\n"},
    {10022, u"An invalid argument was supplied.\r\n"},
    {10024, u"Too many open sockets.\r\n"},
    {10035, u"A non-blocking socket operation could not be completed immediately.\r\n"},
    {10036, u"A blocking operation is currently executing.\r\n"},
    {10038, u"An operation was attempted on something that is not a socket.\r\n"},
    {10048, u"Only one usage of each socket address (protocol/network address/port) is "
            u"normally permitted.\r\n"},
    {10049, u"The requested address is not valid in its context.\r\n"},
    {10050, u"A socket operation encountered a dead network.\r\n"},
    {10051, u"A socket operation was attempted to an unreachable network.\r\n"},
    {10053, u"An established connection was aborted by the software in your host "
            u"machine.\r\n"},
    {10054, u"An existing connection was forcibly closed by the remote host.\r\n"},
    {10055, u"An operation on a socket could not be performed because the system lacked "
            u"sufficient buffer space or because a queue was full.\r\n"},
    {10056, u"A connect request was made on an already connected socket.\r\n"},
    {10057, u"A request to send or receive data was disallowed because the socket is not "
            u"connected and (when sending on a datagram socket using a sendto call) no address "
            u"was supplied.\r\n"},
    {10058, u"A request to send or receive data was disallowed because the socket had already "
            u"been shut down in that direction with a previous shutdown call.\r\n"},
    {10060, u"A connection attempt failed because the connected party did not properly respond "
            u"after a period of time, or established connection failed because connected host "
            u"has failed to respond.\r\n"},
    {10061, u"No connection could be made because the target machine actively refused "
            u"it.\r\n"},
    {10064, u"A socket operation failed because the destination host was down.\r\n"},
    {10065, u"A socket operation was attempted to an unreachable host.\r\n"},
    {10091, u"WSAStartup cannot function at this time because the underlying system it uses to "
            u"provide network services is currently unavailable.\r\n"},
    {10092, u"The Windows Sockets version requested is not supported.\r\n"},
    {10093, u"Either the application has not called WSAStartup, or WSAStartup failed.\r\n"},
    {11001, u"No such host is known.\r\n"},
    {11002, u"This is usually a temporary error during hostname resolution and means that the "
            u"local server did not receive a response from an authoritative server.\r\n"},
    {11003, u"A non-recoverable error occurred during a database lookup.\r\n"},
    {11004, u"The requested name is valid, but no data of the requested type was found.\r\n"},
};

const char16_t* FindSystemMessage(DWORD code)
{
    const auto found = std::lower_bound(
        std::begin(kSystemMessages), std::end(kSystemMessages), code,
        [](const SystemMessage& message, DWORD wanted) { return message.code < wanted; });
    if (found == std::end(kSystemMessages) || found->code != code)
        return nullptr;
    return found->text;
}

size_t TextLength(const char16_t* text)
{
    return std::char_traits<char16_t>::length(text);
}

}  // namespace

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                     LPWSTR buffer, DWORD capacity, void* arguments)
{
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char16_t* text = FindSystemMessage(messageId);
    if (text == nullptr) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    const size_t length = TextLength(text);
    if (length >= capacity) {
        if (capacity > 0)
            buffer[0] = u'\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(text, text + length + 1, buffer);
    return static_cast<DWORD>(length);
}

int LoadStringW(HMODULE module, UINT id, LPWSTR buffer, int capacity)
{
    if (buffer != nullptr && capacity > 0)
        buffer[0] = u'\0';
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
}
