// The session's end, the restart after an update, and the name one
// program at a time holds.
#include <windows.h>

#include <vector>

#include "platform/platform.h"
#include "platform/win32/win32_platform.h"

// The bits of WM_ENDSESSION's lParam, named here as well: older headers
// lack some of them.
enum : DWORD {
  EndsCloseApp = 0x00000001,  // ENDSESSION_CLOSEAPP
  EndsCritical = 0x40000000,  // ENDSESSION_CRITICAL
  EndsLogoff = 0x80000000u,   // ENDSESSION_LOGOFF
  RestartNoCrash = 1,         // RESTART_NO_CRASH
  RestartNoHang = 2,          // RESTART_NO_HANG
  RestartLongestLine = 1024,  // RESTART_MAX_CMD_LINE, in characters
};

static SessionEndProcedure SessionEnds;
static HANDLE Claim;

void PlatSetSessionEndProcedure(SessionEndProcedure procedure) {
  SessionEnds = procedure;
}

static SessionEndReason ReasonOf(LPARAM how) {
  DWORD bits = static_cast<DWORD>(how);
  if (bits & EndsCloseApp) return SessionEndUpdate;
  if (bits & EndsCritical) return SessionEndCritical;
  if (bits & EndsLogoff) return SessionEndLogoff;
  return SessionEndShutdown;
}

// WM_ENDSESSION: the session ends (or, with `ending` false, it does not
// after all). Every top-level window of the program gets it; the program
// hears of it once.
void Win32SessionEnding(bool ending, LPARAM how) {
  static bool told;
  if (!ending || told || !SessionEnds) return;
  told = true;
  SessionEndReason reason = ReasonOf(how);
  SessionEnds(reason);
  Win32PushEvent(EventSessionEnd, static_cast<int>(reason));
}

// Found at run time: the program also starts on systems that lack it.
using RegisterRestartCall = HRESULT(WINAPI*)(PCWSTR, DWORD);

bool PlatRegisterRestart(const Text& arguments) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (!kernel) return false;
  RegisterRestartCall call =
      reinterpret_cast<RegisterRestartCall>(reinterpret_cast<void*>(
          GetProcAddress(kernel, "RegisterApplicationRestart")));
  if (!call) return false;
  std::vector<wchar_t> wide(arguments.size() + 1, L'\0');
  if (!arguments.empty() &&
      MultiByteToWideChar(1252, 0, arguments.data(),
                          static_cast<int>(arguments.size()), wide.data(),
                          static_cast<int>(arguments.size())) <= 0)
    return false;
  if (wide.size() > RestartLongestLine) return false;
  // Brought back after an update or a restart of Windows; a crash or a
  // hang is not answered with a restart.
  return SUCCEEDED(call(wide.data(), RestartNoCrash | RestartNoHang));
}

static HANDLE MakeMutex(const Text& name, DWORD* error) {
  HANDLE made = CreateMutexA(nullptr, FALSE, name.c_str());
  *error = GetLastError();
  return made;
}

ClaimResult PlatClaimName(const Text& name) {
  PlatReleaseClaim();
  DWORD error = 0;
  HANDLE made = MakeMutex("Global\\" + name, &error);
  // A mutex of another user's session that this one may not open: it is
  // held, by another program.
  if (!made && error == ERROR_ACCESS_DENIED) return ClaimTaken;
  // Where the global names are closed to the program: this session's.
  if (!made) made = MakeMutex("Local\\" + name, &error);
  if (!made) return error == ERROR_ACCESS_DENIED ? ClaimTaken : ClaimFailed;
  if (error == ERROR_ALREADY_EXISTS) {
    CloseHandle(made);
    return ClaimTaken;
  }
  Claim = made;
  return ClaimHeld;
}

void PlatReleaseClaim() {
  if (Claim) CloseHandle(Claim);
  Claim = nullptr;
}
