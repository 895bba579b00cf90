#include "platform/ErrorText.h"

#include <algorithm>
#include <cerrno>
#include <array>
#include <string_view>
#include <utility>

namespace platform {

namespace {

struct ErrorEntry {
  std::uint32_t code;
  std::string_view text;
};

// The system's English message texts. The system's own formatter ends each
// with CR LF; every caller trims that, so the table holds the bare sentence.
// Sorted by code for the binary search below.
constexpr ErrorEntry kSystemErrors[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {14, "Not enough memory resources are available to complete this operation."},
    {15, "The system cannot find the drive specified."},
    {18, "There are no more files."},
    {19, "The media is write protected."},
    {21, "The device is not ready."},
    {23, "Data error (cyclic redundancy check)."},
    {24, "The program issued a command but the command length is incorrect."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {33, "The process cannot access the file because another process has locked a portion of the file."},
    {38, "Reached the end of the file."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {53, "The network path was not found."},
    {67, "The network name cannot be found."},
    {80, "The file exists."},
    {82, "The directory or file cannot be created."},
    {85, "The local device name is already in use."},
    {86, "The specified network password is not correct."},
    {87, "The parameter is incorrect."},
    {110, "The system cannot open the device or file specified."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {145, "The directory is not empty."},
    {161, "The specified path is invalid."},
    {170, "The requested resource is in use."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {234, "More data is available."},
    {258, "The wait operation timed out."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {299, "Only part of a ReadProcessMemory or WriteProcessMemory request was completed."},
    {317, "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {487, "Attempt to access invalid address."},
    {995, "The I/O operation has been aborted because of either a thread exit or an application request."},
    {997, "Overlapped I/O operation is in progress."},
    {998, "Invalid access to memory location."},
    {1004, "Invalid flags."},
    {1006, "The volume for a file has been externally altered so that the opened file is no longer valid."},
    {1008, "An attempt was made to reference a token that does not exist."},
    {1009, "The configuration registry database is corrupt."},
    {1010, "The configuration registry key is invalid."},
    {1011, "The configuration registry key could not be opened."},
    {1012, "The configuration registry key could not be read."},
    {1013, "The configuration registry key could not be written."},
    {1014, "One of the files in the registry database had to be recovered by use of a log or alternate copy. "
           "The recovery was successful."},
    {1015, "The registry is corrupted. The structure of one of the files containing registry data is "
           "corrupted, or the system's memory image of the file is corrupted, or the file could not be "
           "recovered because the alternate copy or log was absent or corrupted."},
    {1016, "An I/O operation initiated by the registry failed unrecoverably. The registry could not read "
           "in, or write out, or flush, one of the files that contain the system's image of the registry."},
    {1017, "The system has attempted to load or restore a file into the registry, but the specified file "
           "is not in a registry file format."},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {1019, "System could not allocate the required space in a registry log."},
    {1020, "Cannot create a symbolic link in a registry key that already has subkeys or values."},
    {1021, "Cannot create a stable subkey under a volatile parent key."},
    {1022, "A notify change request is being completed and the information is not being returned in the "
           "caller's buffer. The caller now needs to enumerate the files to find the changes."},
    {1060, "The specified service does not exist as an installed service."},
    {1114, "A dynamic link library (DLL) initialization routine failed."},
    {1117, "The request could not be performed because of an I/O device error."},
    {1168, "Element not found."},
    {1200, "The specified device name is invalid."},
    {1203, "The network path was either typed incorrectly, does not exist, or the network provider is not "
           "currently available. Please try retyping the path or contact your network administrator."},
    {1204, "The specified network provider name is invalid."},
    {1206, "The network connection profile is corrupted."},
    {1222, "The network is not present or not started."},
    {1223, "The operation was canceled by the user."},
    {1300, "Not all privileges or groups referenced are assigned to the caller."},
    {1305, "The revision level is unknown."},
    {1307, "This security ID may not be assigned as the owner of this object."},
    {1314, "A required privilege is not held by the client."},
    {1326, "The user name or password is incorrect."},
    {1332, "No mapping between account names and security IDs was done."},
    {1336, "The access control list (ACL) structure is invalid."},
    {1337, "The security ID structure is invalid."},
    {1338, "The security descriptor structure is invalid."},
    {1359, "An internal error occurred."},
    {1385, "Logon failure: the user has not been granted the requested logon type at this computer."},
    {1392, "The file or directory is corrupted and unreadable."},
    {1450, "Insufficient system resources exist to complete the requested service."},
    {1460, "This operation returned because the timeout period expired."},
};

constexpr bool sortedByCode() {
  for (std::size_t i = 1; i < std::size(kSystemErrors); ++i)
    if (kSystemErrors[i - 1].code >= kSystemErrors[i].code) return false;
  return true;
}
static_assert(sortedByCode(), "kSystemErrors must stay sorted by code");

// The kernel's status codes and the system error codes the Win32 layer turns
// them into. Sorted by status.
constexpr std::pair<std::uint32_t, std::uint32_t> kStatusToError[] = {
    {0x00000000, 0},     // STATUS_SUCCESS
    {0x00000102, 258},   // STATUS_TIMEOUT
    {0x00000103, 997},   // STATUS_PENDING
    {0x00000106, 1300},  // STATUS_NOT_ALL_ASSIGNED
    {0x0000010C, 1022},  // STATUS_NOTIFY_ENUM_DIR
    {0x80000005, 234},   // STATUS_BUFFER_OVERFLOW
    {0x80000006, 18},    // STATUS_NO_MORE_FILES
    {0x8000001A, 259},   // STATUS_NO_MORE_ENTRIES
    {0xC0000001, 31},    // STATUS_UNSUCCESSFUL
    {0xC0000002, 1},     // STATUS_NOT_IMPLEMENTED
    {0xC0000003, 87},    // STATUS_INVALID_INFO_CLASS
    {0xC0000004, 24},    // STATUS_INFO_LENGTH_MISMATCH
    {0xC0000005, 998},   // STATUS_ACCESS_VIOLATION
    {0xC0000008, 6},     // STATUS_INVALID_HANDLE
    {0xC000000D, 87},    // STATUS_INVALID_PARAMETER
    {0xC000000F, 2},     // STATUS_NO_SUCH_FILE
    {0xC0000010, 1},     // STATUS_INVALID_DEVICE_REQUEST
    {0xC0000011, 38},    // STATUS_END_OF_FILE
    {0xC0000017, 8},     // STATUS_NO_MEMORY
    {0xC0000022, 5},     // STATUS_ACCESS_DENIED
    {0xC0000023, 122},   // STATUS_BUFFER_TOO_SMALL
    {0xC0000024, 6},     // STATUS_OBJECT_TYPE_MISMATCH
    {0xC0000033, 123},   // STATUS_OBJECT_NAME_INVALID
    {0xC0000034, 2},     // STATUS_OBJECT_NAME_NOT_FOUND
    {0xC0000035, 183},   // STATUS_OBJECT_NAME_COLLISION
    {0xC0000039, 161},   // STATUS_OBJECT_PATH_INVALID
    {0xC000003A, 3},     // STATUS_OBJECT_PATH_NOT_FOUND
    {0xC000003B, 161},   // STATUS_OBJECT_PATH_SYNTAX_BAD
    {0xC000003E, 23},    // STATUS_DATA_ERROR
    {0xC0000043, 32},    // STATUS_SHARING_VIOLATION
    {0xC0000056, 5},     // STATUS_DELETE_PENDING
    {0xC0000058, 1305},  // STATUS_UNKNOWN_REVISION
    {0xC000005A, 1307},  // STATUS_INVALID_OWNER
    {0xC0000061, 1314},  // STATUS_PRIVILEGE_NOT_HELD
    {0xC000006D, 1326},  // STATUS_LOGON_FAILURE
    {0xC0000073, 1332},  // STATUS_NONE_MAPPED
    {0xC0000077, 1336},  // STATUS_INVALID_ACL
    {0xC0000078, 1337},  // STATUS_INVALID_SID
    {0xC0000079, 1338},  // STATUS_INVALID_SECURITY_DESCR
    {0xC000007C, 1008},  // STATUS_NO_TOKEN
    {0xC000007F, 112},   // STATUS_DISK_FULL
    {0xC0000098, 1006},  // STATUS_FILE_INVALID
    {0xC000009A, 1450},  // STATUS_INSUFFICIENT_RESOURCES
    {0xC00000A2, 19},    // STATUS_MEDIA_WRITE_PROTECTED
    {0xC00000A3, 21},    // STATUS_DEVICE_NOT_READY
    {0xC00000BA, 5},     // STATUS_FILE_IS_A_DIRECTORY
    {0xC00000BB, 50},    // STATUS_NOT_SUPPORTED
    {0xC00000BE, 53},    // STATUS_BAD_NETWORK_PATH
    {0xC00000CC, 67},    // STATUS_BAD_NETWORK_NAME
    {0xC00000E5, 1359},  // STATUS_INTERNAL_ERROR
    {0xC00000EF, 87},    // STATUS_INVALID_PARAMETER_1 ...
    {0xC00000F0, 87},
    {0xC00000F1, 87},
    {0xC00000F2, 87},
    {0xC00000F3, 87},
    {0xC00000F4, 87},
    {0xC00000F5, 87},
    {0xC00000F6, 87},
    {0xC00000F7, 87},
    {0xC00000F8, 87},
    {0xC00000F9, 87},
    {0xC00000FA, 87},    // ... STATUS_INVALID_PARAMETER_12
    {0xC0000101, 145},   // STATUS_DIRECTORY_NOT_EMPTY
    {0xC0000102, 1392},  // STATUS_FILE_CORRUPT_ERROR
    {0xC0000103, 267},   // STATUS_NOT_A_DIRECTORY
    {0xC0000120, 995},   // STATUS_CANCELLED
    {0xC0000121, 5},     // STATUS_CANNOT_DELETE
    {0xC000014C, 1015},  // STATUS_REGISTRY_CORRUPT
    {0xC000014D, 1016},  // STATUS_REGISTRY_IO_FAILED
    {0xC000015C, 1017},  // STATUS_NOT_REGISTRY_FILE
    {0xC000017C, 1018},  // STATUS_KEY_DELETED
    {0xC000017D, 1019},  // STATUS_NO_LOG_SPACE
    {0xC0000180, 1020},  // STATUS_KEY_HAS_CHILDREN
    {0xC0000181, 1021},  // STATUS_CHILD_MUST_BE_VOLATILE
    {0xC0000185, 1117},  // STATUS_IO_DEVICE_ERROR
    {0xC0000225, 1168},  // STATUS_NOT_FOUND
};

constexpr bool statusSorted() {
  for (std::size_t i = 1; i < std::size(kStatusToError); ++i)
    if (kStatusToError[i - 1].first >= kStatusToError[i].first) return false;
  return true;
}
static_assert(statusSorted(), "kStatusToError must stay sorted by status");

constexpr std::uint32_t kErrorMrMidNotFound = 317;

}  // namespace

std::string systemErrorText(std::uint32_t code) {
  const auto it = std::lower_bound(std::begin(kSystemErrors), std::end(kSystemErrors), code,
                                   [](const ErrorEntry& e, std::uint32_t c) { return e.code < c; });
  if (it == std::end(kSystemErrors) || it->code != code) return {};
  return std::string(it->text);
}

std::uint32_t ntStatusToWin32Error(std::uint32_t status) {
  const auto it = std::lower_bound(std::begin(kStatusToError), std::end(kStatusToError), status,
                                   [](const auto& e, std::uint32_t s) { return e.first < s; });
  if (it != std::end(kStatusToError) && it->first == status) return it->second;
  // A status built from a Win32 error (facility 7) carries the code itself.
  if ((status & 0x0FFF0000) == 0x00070000) return status & 0xFFFF;
  // As the system does for a status it has no mapping for.
  return kErrorMrMidNotFound;
}

std::uint32_t errnoToWin32Error(int err) {
  switch (err) {
    case 0: return 0;
    case ENOENT: return 2;        // ERROR_FILE_NOT_FOUND
    case ENOTDIR: return 3;       // ERROR_PATH_NOT_FOUND: a component is no folder
    case EMFILE: case ENFILE: return 4;  // ERROR_TOO_MANY_OPEN_FILES
    // Windows refuses to open a folder as a file with "access denied" too.
    case EACCES: case EPERM: case EISDIR: return 5;  // ERROR_ACCESS_DENIED
    case EBADF: return 6;         // ERROR_INVALID_HANDLE
    case ENOMEM: return 8;        // ERROR_NOT_ENOUGH_MEMORY
    case EROFS: return 19;        // ERROR_WRITE_PROTECT
    case ETXTBSY: return 32;      // ERROR_SHARING_VIOLATION
    case EINVAL: return 87;       // ERROR_INVALID_PARAMETER
    case ENOSPC: case EDQUOT: return 112;  // ERROR_DISK_FULL
    case ENOTEMPTY: return 145;   // ERROR_DIR_NOT_EMPTY
    case EBUSY: return 170;       // ERROR_BUSY
    case EEXIST: return 183;      // ERROR_ALREADY_EXISTS
    case ENAMETOOLONG: return 206;  // ERROR_FILENAME_EXCED_RANGE
    case EIO: return 1117;        // ERROR_IO_DEVICE
    default: return 31;           // ERROR_GEN_FAILURE
  }
}

}  // namespace platform
