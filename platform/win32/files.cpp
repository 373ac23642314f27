// Files and folders, and the standard save dialog.

#include "platform/win32/win32_platform.h"

// After windows.h (win32_platform.h), which it needs.
#include <commdlg.h>

bool PlatFolderExists(const Text& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static AppendResult AppendResultOf(DWORD error) {
  switch (error) {
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
      return AppendNoFolder;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return AppendDenied;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return AppendDiskFull;
    default:
      return AppendFailed;
  }
}

// Writes the bytes to the open file, flushes them and closes it.
static AppendResult WriteAndClose(HANDLE file, const void* bytes, int length) {
  AppendResult result = AppendWritten;
  const char* next = static_cast<const char*>(bytes);
  int left = length > 0 ? length : 0;
  while (left > 0) {
    DWORD written = 0;
    if (!WriteFile(file, next, (DWORD)left, &written, nullptr)) {
      result = AppendResultOf(GetLastError());
      if (result == AppendNoFolder) result = AppendFailed;
      break;
    }
    if (written == 0) {
      result = AppendDiskFull;
      break;
    }
    next += written;
    left -= (int)written;
  }
  if (!FlushFileBuffers(file) && result == AppendWritten)
    result = AppendResultOf(GetLastError());
  CloseHandle(file);
  return result;
}

AppendResult PlatAppendFile(const Text& path, const void* bytes, int length) {
  // FILE_APPEND_DATA alone: every write goes to the end of the file, also
  // when another program appends to it meanwhile.
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return AppendResultOf(GetLastError());
  return WriteAndClose(file, bytes, length);
}

AppendResult PlatWriteFile(const Text& path, const void* bytes, int length) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return AppendResultOf(GetLastError());
  return WriteAndClose(file, bytes, length);
}

// Reads at most `maxBytes` bytes of the file, its last ones or its first
// ones, with readers and writers of any kind sharing it meanwhile.
static ReadResult ReadFilePart(const Text& path, int maxBytes, bool fromEnd,
                               Text* bytes, int64_t* size) {
  bytes->clear();
  *size = 0;
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
               ? FileMissing
               : FileUnreadable;
  }
  LARGE_INTEGER whole;
  if (!GetFileSizeEx(file, &whole)) {
    CloseHandle(file);
    return FileUnreadable;
  }
  int64_t take = maxBytes > 0 ? maxBytes : 0;
  if (take > whole.QuadPart) take = whole.QuadPart;
  LARGE_INTEGER from;
  from.QuadPart = fromEnd ? whole.QuadPart - take : 0;
  ReadResult result = FileRead;
  if (!SetFilePointerEx(file, from, nullptr, FILE_BEGIN)) {
    result = FileUnreadable;
  } else {
    bytes->resize((size_t)take);
    size_t got = 0;
    while (got < (size_t)take) {
      DWORD read = 0;
      if (!ReadFile(file, &(*bytes)[got], (DWORD)(take - got), &read,
                    nullptr)) {
        result = FileUnreadable;
        break;
      }
      if (read == 0) break;  // cut short meanwhile
      got += read;
    }
    bytes->resize(got);
  }
  CloseHandle(file);
  if (result != FileRead) {
    bytes->clear();
    return result;
  }
  *size = whole.QuadPart;
  return FileRead;
}

ReadResult PlatReadFileEnd(const Text& path, int maxBytes, Text* bytes,
                           int64_t* size) {
  return ReadFilePart(path, maxBytes, true, bytes, size);
}

ReadResult PlatReadFileStart(const Text& path, int maxBytes, Text* bytes,
                             int64_t* size) {
  return ReadFilePart(path, maxBytes, false, bytes, size);
}

bool PlatAskSavePath(int window, const Text& title, const Text& typeName,
                     const Text& extension, const Text& suggestedName,
                     Text* path) {
  char name[MAX_PATH] = {};
  lstrcpynA(name, suggestedName.c_str(), MAX_PATH);
  // "Name (*.ext)\0*.ext\0\0"
  Text pattern = "*." + extension;
  Text filter = typeName + " (" + pattern + ")";
  filter.push_back('\0');
  filter += pattern;
  filter.push_back('\0');
  filter.push_back('\0');

  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner =
      (window >= 0 && window < WindowSlots) ? Win32Windows[window] : nullptr;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = name;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrTitle = title.c_str();
  dialog.lpstrDefExt = extension.c_str();
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                 OFN_NOCHANGEDIR | OFN_EXPLORER;
  using SaveDialogCall = BOOL(WINAPI*)(OPENFILENAMEA*);
  auto ask = reinterpret_cast<SaveDialogCall>(reinterpret_cast<void*>(
      Win32SystemFunction("comdlg32.dll", "GetSaveFileNameA")));
  if (!ask) return false;
  Win32EnterModalLoop();
  bool chosen = ask(&dialog) != 0;
  Win32LeaveModalLoop();
  if (!chosen) return false;
  *path = name;
  return true;
}
