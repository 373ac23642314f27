// The system's sleeps and the program's request to keep it awake.
//
// The calls newer than the oldest Windows the program runs on (the power
// request, the clock that leaves out sleep) are looked up at run time in
// kernel32, so the program starts where they are missing and does without.

#include <cstring>
#include <vector>

#include "platform/win32/win32_platform.h"

namespace {

PlatPowerNotices Notices = {0, 0};

// The power request's reason: a REASON_CONTEXT with a simple string, its
// union as large as the detailed form.
struct PowerReason {
  ULONG Version;
  DWORD Flags;
  LPWSTR SimpleReasonString;
  void* Rest[3];
};
enum { ReasonVersion = 0, ReasonSimpleString = 1 };
enum { RequestSystemRequired = 1 };

using CreateRequestCall = HANDLE(WINAPI*)(PowerReason*);
using SetRequestCall = BOOL(WINAPI*)(HANDLE, int);
using UnbiasedTimeCall = BOOL(WINAPI*)(ULONGLONG*);
using ExecutionStateCall = DWORD(WINAPI*)(DWORD);

FARPROC Kernel(const char* name) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  return kernel ? GetProcAddress(kernel, name) : nullptr;
}

HANDLE Request = nullptr;
bool RequestSet = false;
bool StateSet = false;  // the older way, SetThreadExecutionState
// The reason as the system's wide characters, ended by a 0. A vector and
// not a wide string: the program has no other use for wide strings, and
// one would link their whole library code into the program.
using WideText = std::vector<wchar_t>;
WideText RequestReason;

WideText Wide(const Text& text) {
  int n =
      MultiByteToWideChar(1252, 0, text.data(), (int)text.size(), nullptr, 0);
  WideText wide((size_t)(n > 0 ? n : 0) + 1, L'\0');
  if (n > 0)
    MultiByteToWideChar(1252, 0, text.data(), (int)text.size(), &wide[0], n);
  return wide;
}

// The request made anew when its reason changed; false where the system
// has no power requests.
bool MakeRequest(const Text& reason) {
  WideText wide = Wide(reason);
  if (Request && wide == RequestReason) return true;
  auto create = reinterpret_cast<CreateRequestCall>(
      reinterpret_cast<void*>(Kernel("PowerCreateRequest")));
  if (!create) return false;
  if (Request) {
    auto clear = reinterpret_cast<SetRequestCall>(
        reinterpret_cast<void*>(Kernel("PowerClearRequest")));
    if (RequestSet && clear) clear(Request, RequestSystemRequired);
    CloseHandle(Request);
    Request = nullptr;
    RequestSet = false;
  }
  RequestReason = wide;
  PowerReason context;
  memset(&context, 0, sizeof context);
  context.Version = ReasonVersion;
  context.Flags = ReasonSimpleString;
  context.SimpleReasonString = &RequestReason[0];
  HANDLE made = create(&context);
  if (made == INVALID_HANDLE_VALUE || !made) return false;
  Request = made;
  return true;
}

bool SetExecutionState(bool awake) {
  auto state = reinterpret_cast<ExecutionStateCall>(
      reinterpret_cast<void*>(Kernel("SetThreadExecutionState")));
  if (!state) return false;
  const DWORD Continuous = 0x80000000u, SystemRequired = 0x00000001u;
  return state(awake ? Continuous | SystemRequired : Continuous) != 0;
}

}  // namespace

void Win32PowerMessage(WPARAM event) {
  switch (event) {
    case 0x0004:  // PBT_APMSUSPEND
      Notices.Suspends++;
      break;
    case 0x0006:  // PBT_APMRESUMECRITICAL
    case 0x0007:  // PBT_APMRESUMESUSPEND
    case 0x0012:  // PBT_APMRESUMEAUTOMATIC
      Notices.Resumes++;
      break;
    default:
      break;
  }
}

PlatPowerNotices PlatPowerNoticesSoFar() { return Notices; }

bool PlatRunningTime(uint64_t* ms) {
  *ms = 0;
  // Looked up once (on the program's one thread).
  static bool lookedUp = false;
  static UnbiasedTimeCall unbiased = nullptr;
  if (!lookedUp) {
    unbiased = reinterpret_cast<UnbiasedTimeCall>(
        reinterpret_cast<void*>(Kernel("QueryUnbiasedInterruptTime")));
    lookedUp = true;
  }
  ULONGLONG units = 0;  // of 100 ns
  if (!unbiased || !unbiased(&units)) return false;
  *ms = units / 10000u;
  return true;
}

void PlatKeepSystemAwake(bool awake, const Text& reason) {
  auto set = reinterpret_cast<SetRequestCall>(
      reinterpret_cast<void*>(Kernel("PowerSetRequest")));
  auto clear = reinterpret_cast<SetRequestCall>(
      reinterpret_cast<void*>(Kernel("PowerClearRequest")));
  if (!awake) {
    if (Request && RequestSet && clear) clear(Request, RequestSystemRequired);
    RequestSet = false;
    if (StateSet) SetExecutionState(false);
    StateSet = false;
    return;
  }
  if (set && clear && MakeRequest(reason)) {
    if (!RequestSet) RequestSet = set(Request, RequestSystemRequired) != 0;
    if (RequestSet) return;
  }
  if (!StateSet) StateSet = SetExecutionState(true);
}
