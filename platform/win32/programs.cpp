// Programs started by this one: without waiting, without a console window,
// without this program's handles.

#include <map>

#include "platform/win32/win32_platform.h"

// The processes started and not yet let go, by the number the program
// knows them by.
static std::map<PlatProgram, HANDLE> Started;
static PlatProgram LastNumber = NoProgram;

// One argument as the C runtime of the started program splits its command
// line: in double quotes, a quote escaped with a backslash, backslashes
// doubled only before a quote.
static Text Quoted(const Text& argument) {
  Text quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      backslashes++;
      continue;
    }
    if (c == '"') {
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

static bool EndsWithAnyCase(const Text& text, const char* end) {
  size_t n = strlen(end);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; i++) {
    char c = text[text.size() - n + i];
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    if (c != end[i]) return false;
  }
  return true;
}

// The command interpreter: %ComSpec%, or cmd.exe of the system folder.
static Text CommandInterpreter() {
  char path[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("ComSpec", path, sizeof path);
  if (n > 0 && n < sizeof path) return Text(path, n);
  UINT m = GetSystemDirectoryA(path, sizeof path);
  if (m > 0 && m < sizeof path) return Text(path, m) + "\\cmd.exe";
  return "cmd.exe";
}

PlatProgram PlatStartProgram(const Text& program,
                             const std::vector<Text>& arguments) {
  if (program.empty()) return NoProgram;
  Text application;
  Text line;
  if (EndsWithAnyCase(program, ".cmd") || EndsWithAnyCase(program, ".bat")) {
    // cmd.exe /c takes the rest of its line as a command: the whole of it
    // in one more pair of quotes, which it strips, so the script's name
    // and each argument keep theirs. A script name holding a quote or a
    // percent sign cannot be given so.
    if (program.find_first_of("\"%") != Text::npos) return NoProgram;
    // cmd.exe itself would start and only say that the script is missing.
    DWORD attributes = GetFileAttributesA(program.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY))
      return NoProgram;
    application = CommandInterpreter();
    line = "\"" + application + "\" /d /c \"\"" + program + "\"";
    for (const Text& argument : arguments) {
      if (argument.find_first_of("\"%\r\n") != Text::npos) return NoProgram;
      line += " \"" + argument + "\"";
    }
    line += "\"";
  } else {
    application = program;
    line = Quoted(program);
    for (const Text& argument : arguments) line += " " + Quoted(argument);
  }
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  Text writable = line;  // CreateProcess may write to the command line
  if (!CreateProcessA(application.c_str(), &writable[0], nullptr, nullptr,
                      FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &process))
    return NoProgram;
  CloseHandle(process.hThread);
  PlatProgram number = ++LastNumber;
  Started[number] = process.hProcess;
  return number;
}

bool PlatProgramRunning(PlatProgram program) {
  auto found = Started.find(program);
  if (found == Started.end()) return false;
  if (WaitForSingleObject(found->second, 0) == WAIT_TIMEOUT) return true;
  CloseHandle(found->second);
  Started.erase(found);
  return false;
}
