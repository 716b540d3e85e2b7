// The system message table: the platform's text for each error code it produces.
// Texts end in CR LF, as the platform's own do.
#include "message_table.h"

#include <algorithm>
#include <iterator>

#include <winplat/winerror.h>

namespace {

struct Message {
    DWORD code;
    const char* text;
};

// Sorted by code.
constexpr Message kMessages[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {11, "An attempt was made to load a program with an incorrect format.\r\n"},
    {13, "The data is invalid.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {17, "The system cannot move the file to a different disk drive.\r\n"},
    {21, "The device is not ready.\r\n"},
    {29, "The system cannot write to the specified device.\r\n"},
    {30, "The system cannot read from the specified device.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {33, "The process cannot access the file because another process has locked a portion of "
         "the file.\r\n"},
    {38, "Reached the end of the file.\r\n"},
    {50, "The request is not supported.\r\n"},
    {53, "The network path was not found.\r\n"},
    {65, "Network access is denied.\r\n"},
    {67, "The network name cannot be found.\r\n"},
    {80, "The file exists.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {109, "The pipe has been ended.\r\n"},
    {111, "The file name is too long.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {120, "This function is not supported on this system.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {126, "The specified module could not be found.\r\n"},
    {127, "The specified procedure could not be found.\r\n"},
    {145, "The directory is not empty.\r\n"},
    {161, "The specified path is invalid.\r\n"},
    {170, "The requested resource is in use.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {234, "More data is available.\r\n"},
    {259, "No more data is available.\r\n"},
    {267, "The directory name is invalid.\r\n"},
    {317, "The system cannot find message text for message number 0x%1 in the message file for "
          "%2.\r\n"},
    {487, "Attempt to access invalid address.\r\n"},
    {534, "Arithmetic result exceeded 32 bits.\r\n"},
    {1009, "The configuration registry database is corrupt.\r\n"},
    {1010, "The configuration registry key is invalid.\r\n"},
    {1011, "The configuration registry key could not be opened.\r\n"},
    {1012, "The configuration registry key could not be read.\r\n"},
    {1013, "The configuration registry key could not be written.\r\n"},
    {1015, "The registry is corrupted. The structure of one of the files containing registry "
           "data is corrupted, or the system's memory image of the file is corrupted, or the "
           "file could not be recovered because the alternate copy or log was absent or "
           "corrupted.\r\n"},
    {1018, "Illegal operation attempted on a registry key that has been marked for "
           "deletion.\r\n"},
    {1051, "A stop control has been sent to a service that other running services are dependent "
           "on.\r\n"},
    {1052, "The requested control is not valid for this service.\r\n"},
    {1053, "The service did not respond to the start or control request in a timely "
           "fashion.\r\n"},
    {1054, "A thread could not be created for the service.\r\n"},
    {1055, "The service database is locked.\r\n"},
    {1056, "An instance of the service is already running.\r\n"},
    {1057, "The account name is invalid or does not exist, or the password is invalid for the "
           "account name specified.\r\n"},
    {1058, "The service cannot be started, either because it is disabled or because it has no "
           "enabled devices associated with it.\r\n"},
    {1059, "Circular service dependency was specified.\r\n"},
    {1060, "The specified service does not exist as an installed service.\r\n"},
    {1061, "The service cannot accept control messages at this time.\r\n"},
    {1062, "The service has not been started.\r\n"},
    {1063, "The service process could not connect to the service controller.\r\n"},
    {1064, "An exception occurred in the service when handling the control request.\r\n"},
    {1065, "The database specified does not exist.\r\n"},
    {1066, "The service has returned a service-specific error code.\r\n"},
    {1067, "The process terminated unexpectedly.\r\n"},
    {1068, "The dependency service or group failed to start.\r\n"},
    {1069, "The service did not start due to a logon failure.\r\n"},
    {1070, "After starting, the service hung in a start-pending state.\r\n"},
    {1071, "The specified service database lock is invalid.\r\n"},
    {1072, "The specified service has been marked for deletion.\r\n"},
    {1073, "The specified service already exists.\r\n"},
    {1075, "The dependency service does not exist or has been marked for deletion.\r\n"},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
    {1115, "A system shutdown is in progress.\r\n"},
    {1203, "The network path was either typed incorrectly, does not exist, or the network "
           "provider is not currently available. Please try retyping the path or contact your "
           "network administrator.\r\n"},
    {1207, "Cannot enumerate a noncontainer.\r\n"},
    {1208, "An extended error has occurred.\r\n"},
    {1210, "The format of the specified computer name is invalid.\r\n"},
    {1222, "The network is not present or not started.\r\n"},
    {1223, "The operation was canceled by the user.\r\n"},
    {1225, "The remote computer refused the network connection.\r\n"},
    {1400, "Invalid window handle.\r\n"},
    {1406, "Cannot create a top-level child window.\r\n"},
    {1407, "Cannot find window class.\r\n"},
    {1410, "Class already exists.\r\n"},
    {1411, "Class does not exist.\r\n"},
    {1412, "Class still has open windows.\r\n"},
    {1413, "Invalid index.\r\n"},
    {1421, "Control ID not found.\r\n"},
    {1460, "This operation returned because the timeout period expired.\r\n"},
    {1707, "The network address is invalid.\r\n"},
    {1722, "The RPC server is unavailable.\r\n"},
    {1726, "The remote procedure call failed.\r\n"},
    {1812, "The specified image file did not contain a resource section.\r\n"},
    {1813, "The specified resource type cannot be found in the image file.\r\n"},
    {1814, "The specified resource name cannot be found in the image file.\r\n"},
    {2250, "This network connection does not exist.\r\n"},
    {10004, "A blocking operation was interrupted by a call to WSACancelBlockingCall.\r\n"},
    {10009, "The file handle supplied is not valid.\r\n"},
    {10013, "An attempt was made to access a socket in a way forbidden by its access "
            "permissions.\r\n"},
    {10014, "The system detected an invalid pointer address in attempting to use a pointer "
            "argument in a call.\r\n"},
    {10022, "An invalid argument was supplied.\r\n"},
    {10024, "Too many open sockets.\r\n"},
    {10038, "An operation was attempted on something that is not a socket.\r\n"},
    {10040, "A message sent on a datagram socket was larger than the internal message buffer or "
            "some other network limit, or the buffer used to receive a datagram into was smaller "
            "than the datagram itself.\r\n"},
    {10047, "An address incompatible with the requested protocol was used.\r\n"},
    {10049, "The requested address is not valid in its context.\r\n"},
    {10051, "A socket operation was attempted to an unreachable network.\r\n"},
    {10055, "An operation on a socket could not be performed because the system lacked "
            "sufficient buffer space or because a queue was full.\r\n"},
    {10061, "No connection could be made because the target machine actively refused it.\r\n"},
    {10065, "A socket operation was attempted to an unreachable host.\r\n"},
    {10091, "WSAStartup cannot function at this time because the underlying system it uses to "
            "provide network services is currently unavailable.\r\n"},
    {10092, "The Windows Sockets version requested is not supported.\r\n"},
    {10093, "Either the application has not called WSAStartup, or WSAStartup failed.\r\n"},
};

// HRESULTs of the component machinery that have texts of their own.
constexpr Message kHresultMessages[] = {
    {0x80004001u, "Not implemented\r\n"},
    {0x80004002u, "No such interface supported\r\n"},
    {0x80004003u, "Invalid pointer\r\n"},
    {0x80004004u, "Operation aborted\r\n"},
    {0x80004005u, "Unspecified error\r\n"},
    {0x8000FFFFu, "Catastrophic failure\r\n"},
    {0x80040110u, "Class does not support aggregation (or class object is remote)\r\n"},
    {0x80040111u, "ClassFactory cannot supply requested class\r\n"},
    {0x80040154u, "Class not registered\r\n"},
    {0x800401F0u, "CoInitialize has not been called.\r\n"},
    {0x800401F3u, "Invalid class string\r\n"},
    {0x800401F8u, "DLL for class not found\r\n"},
    {0x800401F9u, "Error in the DLL\r\n"},
};

} // namespace

namespace winplat {

const char* SystemMessageText(DWORD code) {
    for (const Message& m : kHresultMessages)
        if (m.code == code)
            return m.text;
    // A Win32 error wrapped in an HRESULT reads as the error itself.
    if ((code & 0xFFFF0000u) == 0x80070000u)
        code &= 0xFFFFu;
    auto it = std::lower_bound(std::begin(kMessages), std::end(kMessages), code,
                               [](const Message& m, DWORD c) { return m.code < c; });
    return it != std::end(kMessages) && it->code == code ? it->text : nullptr;
}

} // namespace winplat
