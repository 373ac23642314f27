// Headless stand-in: files and folders in memory, with the failures a test
// asks for, and the save dialog answered by the test.

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/headless/headless.h"
#include "platform/headless/headless_internal.h"

namespace {

struct FileModel {
  std::map<Text, std::string> Files;
  std::set<Text> Folders;
  std::set<Text> ReadOnlyFolders;
  std::set<Text> UnreadableFiles;
  std::set<Text> LockedFiles;
  int64_t SpaceLeft = -1;  // bytes the disk still takes; -1: no limit
  std::vector<HeadlessFileWrite> Writes;

  bool SaveAnswerGiven = false;
  bool SaveChooses = false;
  Text SavePath;
  std::vector<HeadlessSaveDialog> SaveDialogs;
};

FileModel Files;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The folder as a name without separators at its end.
Text FolderName(const Text& path) {
  Text name = path;
  while (name.size() > 1 && IsSeparator(name.back())) name.pop_back();
  return name;
}

// The folder a file lies in: everything before its last separator.
Text FolderOf(const Text& path) {
  size_t at = path.find_last_of("\\/");
  if (at == Text::npos) return "";
  return FolderName(path.substr(0, at + 1));
}

}  // namespace

void HeadlessResetFiles() { Files = FileModel(); }

bool HeadlessFileKnownMissing(const Text& path) {
  return Files.Folders.count(FolderOf(path)) > 0 && !Files.Files.count(path);
}

void HeadlessAddFolder(const Text& path, bool readOnly) {
  Files.Folders.insert(FolderName(path));
  if (readOnly) Files.ReadOnlyFolders.insert(FolderName(path));
}

void HeadlessSetFolderReadOnly(const Text& path, bool readOnly) {
  if (readOnly)
    Files.ReadOnlyFolders.insert(FolderName(path));
  else
    Files.ReadOnlyFolders.erase(FolderName(path));
}

void HeadlessPutFile(const Text& path, const std::string& bytes) {
  Files.Folders.insert(FolderOf(path));
  Files.Files[path] = bytes;
}

void HeadlessSetFileUnreadable(const Text& path) {
  Files.UnreadableFiles.insert(path);
}

void HeadlessSetFileLocked(const Text& path, bool locked) {
  if (locked)
    Files.LockedFiles.insert(path);
  else
    Files.LockedFiles.erase(path);
}

const std::string* HeadlessFileContent(const Text& path) {
  auto found = Files.Files.find(path);
  return found == Files.Files.end() ? nullptr : &found->second;
}

void HeadlessSetDiskSpace(int64_t bytes) { Files.SpaceLeft = bytes; }

const std::vector<HeadlessFileWrite>& HeadlessFileWrites() {
  return Files.Writes;
}

void HeadlessAnswerSaveDialog(bool choose, const Text& path) {
  Files.SaveAnswerGiven = true;
  Files.SaveChooses = choose;
  Files.SavePath = path;
}

const std::vector<HeadlessSaveDialog>& HeadlessSaveDialogs() {
  return Files.SaveDialogs;
}

// ---------------------------------------------------------------------------
// The platform's procedures
// ---------------------------------------------------------------------------

bool PlatFolderExists(const Text& path) {
  return !path.empty() && Files.Folders.count(FolderName(path)) > 0;
}

AppendResult PlatAppendFile(const Text& path, const void* bytes, int length) {
  std::string given(static_cast<const char*>(bytes),
                    length > 0 ? static_cast<size_t>(length) : 0);
  HeadlessFileWrite write{path, given, AppendFailed, given.size()};
  Text folder = FolderOf(path);
  if (!Files.Folders.count(folder)) {
    write.Result = AppendNoFolder;
  } else if (Files.ReadOnlyFolders.count(folder) ||
             Files.LockedFiles.count(path)) {
    write.Result = AppendDenied;
  } else {
    std::string& content = Files.Files[path];
    if (Files.SpaceLeft >= 0 &&
        static_cast<int64_t>(given.size()) > Files.SpaceLeft) {
      // A full disk takes what still fits and refuses the rest.
      content += given.substr(0, static_cast<size_t>(Files.SpaceLeft));
      Files.SpaceLeft = 0;
      write.Result = AppendDiskFull;
    } else {
      content += given;
      if (Files.SpaceLeft >= 0) Files.SpaceLeft -= given.size();
      write.Result = AppendWritten;
    }
  }
  // Lines that wait for a file that cannot be opened are offered again at
  // every try: only their size is kept.
  if (write.Result == AppendNoFolder || write.Result == AppendDenied)
    write.Bytes.clear();
  Files.Writes.push_back(write);
  return write.Result;
}

AppendResult PlatWriteFile(const Text& path, const void* bytes, int length) {
  Text folder = FolderOf(path);
  if (Files.Folders.count(folder) && !Files.ReadOnlyFolders.count(folder) &&
      !Files.LockedFiles.count(path)) {
    auto existing = Files.Files.find(path);
    if (existing != Files.Files.end()) {
      if (Files.SpaceLeft >= 0)
        Files.SpaceLeft += static_cast<int64_t>(existing->second.size());
      existing->second.clear();
    }
  }
  return PlatAppendFile(path, bytes, length);
}

ReadResult PlatReadFileEnd(const Text& path, int maxBytes, Text* bytes,
                           int64_t* size) {
  bytes->clear();
  *size = 0;
  auto found = Files.Files.find(path);
  if (found == Files.Files.end()) return FileMissing;
  if (Files.UnreadableFiles.count(path)) return FileUnreadable;
  const std::string& content = found->second;
  *size = static_cast<int64_t>(content.size());
  size_t take = maxBytes > 0 ? static_cast<size_t>(maxBytes) : 0;
  if (take > content.size()) take = content.size();
  *bytes = content.substr(content.size() - take);
  return FileRead;
}

ReadResult PlatReadFileStart(const Text& path, int maxBytes, Text* bytes,
                             int64_t* size) {
  bytes->clear();
  *size = 0;
  auto found = Files.Files.find(path);
  if (found == Files.Files.end()) return FileMissing;
  if (Files.UnreadableFiles.count(path)) return FileUnreadable;
  const std::string& content = found->second;
  *size = static_cast<int64_t>(content.size());
  size_t take = maxBytes > 0 ? static_cast<size_t>(maxBytes) : 0;
  *bytes = content.substr(0, take);
  return FileRead;
}

bool PlatAskSavePath(int window, const Text& title, const Text& typeName,
                     const Text& extension, const Text& suggestedName,
                     Text* path) {
  Files.SaveDialogs.push_back(
      HeadlessSaveDialog{window, title, typeName, extension, suggestedName});
  HeadlessRunHeldSaveDialog();
  bool chooses = Files.SaveAnswerGiven && Files.SaveChooses;
  Files.SaveAnswerGiven = false;
  if (!chooses) return false;
  *path = Files.SavePath;
  return true;
}
