// Fonts, the board picture and the click sound.
#include <windows.h>
// After windows.h:
#include <dsound.h>
#include <mmsystem.h>

#include <cstring>

#include "platform/win32/win32_platform.h"

// ---------------------------------------------------------------------------
// Fonts
// ---------------------------------------------------------------------------

enum { FontSlots = PlatFontCount };
static HFONT Fonts[FontSlots];
static int DefaultFont = -1;

bool PlatCreateFont(int number, const char* face, int points) {
  if (number < 0 || number >= FontSlots) return false;
  HDC screen = GetDC(nullptr);
  int perInch = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  HFONT font = CreateFontA(-MulDiv(points, perInch, 72), 0, 0, 0, FW_NORMAL,
                           FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
  if (!font) return false;
  if (Fonts[number]) DeleteObject(Fonts[number]);
  Fonts[number] = font;
  return true;
}

void PlatSetDefaultControlFont(int number) {
  if (number >= 0 && number < FontSlots && Fonts[number]) DefaultFont = number;
}

HFONT Win32DefaultFont() {
  if (DefaultFont >= 0 && Fonts[DefaultFont]) return Fonts[DefaultFont];
  return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

void PlatReleaseFonts() {
  DefaultFont = -1;
  for (HFONT& f : Fonts) {
    if (f) DeleteObject(f);
    f = nullptr;
  }
}

// ---------------------------------------------------------------------------
// Embedded resources
// ---------------------------------------------------------------------------

static const unsigned char* ResourceBytes(int id, DWORD* size) {
  HRSRC found = FindResourceA(Win32Instance, MAKEINTRESOURCEA(id),
                              MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  if (!found) return nullptr;
  HGLOBAL loaded = LoadResource(Win32Instance, found);
  if (!loaded) return nullptr;
  *size = SizeofResource(Win32Instance, found);
  return static_cast<const unsigned char*>(LockResource(loaded));
}

static uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// ---------------------------------------------------------------------------
// The board picture: a bitmap file in the program image, turned into a DIB
// section.
// ---------------------------------------------------------------------------

static HBITMAP Picture;
static int PictureWidth, PictureHeight;

bool PlatLoadBoardPicture() {
  DWORD size = 0;
  const unsigned char* file = ResourceBytes(KVX_BOARD_PICTURE, &size);
  if (!file || size < 54 || file[0] != 'B' || file[1] != 'M') return false;
  uint32_t pixelsAt = Le32(file + 10);
  const BITMAPINFOHEADER* header =
      reinterpret_cast<const BITMAPINFOHEADER*>(file + 14);
  if (header->biBitCount != 24 || header->biCompression != BI_RGB ||
      header->biWidth <= 0 || header->biHeight == 0)
    return false;
  int width = header->biWidth;
  int height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
  size_t rowBytes =
      (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
  size_t pixelBytes = rowBytes * height;
  if (pixelsAt > size || size - pixelsAt < pixelBytes) return false;

  BITMAPINFO info;
  ZeroMemory(&info, sizeof info);
  info.bmiHeader = *header;
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  void* bits = nullptr;
  HBITMAP dib =
      CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!dib || !bits) return false;
  memcpy(bits, file + pixelsAt, pixelBytes);
  GdiFlush();
  if (Picture) DeleteObject(Picture);
  Picture = dib;
  PictureWidth = width;
  PictureHeight = height;
  return true;
}

HBITMAP Win32Picture(int* width, int* height) {
  *width = PictureWidth;
  *height = PictureHeight;
  return Picture;
}

void PlatReleaseImages() {
  if (Picture) DeleteObject(Picture);
  Picture = nullptr;
  PictureWidth = PictureHeight = 0;
}

// The picture centred on the button, clipped 2 pixels inside its edge,
// moved 1 pixel right and down while the button is held down.
void Win32DrawImageButton(const DRAWITEMSTRUCT* item) {
  HDC dc = item->hDC;
  RECT face = item->rcItem;
  bool pressed = (item->itemState & ODS_SELECTED) != 0;
  DrawFrameControl(dc, &face, DFC_BUTTON,
                   DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
  if (Picture) {
    int shift = pressed ? 1 : 0;
    int x = face.left + (face.right - face.left - PictureWidth) / 2 + shift;
    int y = face.top + (face.bottom - face.top - PictureHeight) / 2 + shift;
    int saved = SaveDC(dc);
    IntersectClipRect(dc, face.left + 2, face.top + 2, face.right - 2,
                      face.bottom - 2);
    HDC source = CreateCompatibleDC(dc);
    if (source) {
      HGDIOBJ old = SelectObject(source, Picture);
      BitBlt(dc, x, y, PictureWidth, PictureHeight, source, 0, 0, SRCCOPY);
      SelectObject(source, old);
      DeleteDC(source);
    }
    RestoreDC(dc, saved);
  }
  if ((item->itemState & ODS_FOCUS) && !(item->itemState & ODS_NOFOCUSRECT)) {
    RECT focus = face;
    InflateRect(&focus, -3, -3);
    DrawFocusRect(dc, &focus);
  }
}

// ---------------------------------------------------------------------------
// Sound: DirectSound, loaded by name at the first click. Under Wine the
// library brings the host's whole audio system (some megabytes), so a
// program that never clicks never loads it; start-up only looks whether
// the library is there, and reads the click out of the program image.
// ---------------------------------------------------------------------------

typedef HRESULT(WINAPI* DirectSoundCreateProc)(LPCGUID, LPDIRECTSOUND*,
                                               LPUNKNOWN);

static bool SoundThere;  // the library was found at start
static bool SoundTried;  // the first click tried to start it (once)
static HMODULE SoundLibrary;
static IDirectSound* Sound;
static IDirectSoundBuffer* Click;
static WAVEFORMATEX ClickFormat;
static const unsigned char* ClickSamples;
static DWORD ClickBytes;

bool PlatStartSound() {
  char path[MAX_PATH];
  SoundThere =
      SearchPathA(nullptr, "DSOUND.DLL", nullptr, MAX_PATH, path, nullptr) != 0;
  SoundTried = false;
  return SoundThere;
}

static void StopSoundSystem() {
  if (Click) Click->Release();
  Click = nullptr;
  if (Sound) Sound->Release();
  Sound = nullptr;
  if (SoundLibrary) FreeLibrary(SoundLibrary);
  SoundLibrary = nullptr;
}

static bool StartSoundSystem() {
  SoundLibrary = LoadLibraryA("DSOUND.DLL");
  if (!SoundLibrary) return false;
  FARPROC entry = GetProcAddress(SoundLibrary, "DirectSoundCreate");
  DirectSoundCreateProc create =
      reinterpret_cast<DirectSoundCreateProc>(reinterpret_cast<void*>(entry));
  if (!create || FAILED(create(nullptr, &Sound, nullptr)) || !Sound) {
    Sound = nullptr;
    StopSoundSystem();
    return false;
  }
  if (FAILED(Sound->SetCooperativeLevel(GetDesktopWindow(), DSSCL_NORMAL))) {
    StopSoundSystem();
    return false;
  }
  return true;
}

// Copies the samples into the buffer; after a lost buffer too.
static bool FillClick() {
  void* part1 = nullptr;
  void* part2 = nullptr;
  DWORD size1 = 0, size2 = 0;
  if (FAILED(Click->Lock(0, ClickBytes, &part1, &size1, &part2, &size2, 0)))
    return false;
  memcpy(part1, ClickSamples, size1);
  if (part2) memcpy(part2, ClickSamples + size1, size2);
  Click->Unlock(part1, size1, part2, size2);
  return true;
}

// The click's buffer in the started sound system.
static bool MakeClickBuffer() {
  DSBUFFERDESC desc;
  ZeroMemory(&desc, sizeof desc);
  desc.dwSize = sizeof desc;
  desc.dwFlags = DSBCAPS_GLOBALFOCUS;
  desc.dwBufferBytes = ClickBytes;
  desc.lpwfxFormat = &ClickFormat;
  if (FAILED(Sound->CreateSoundBuffer(&desc, &Click, nullptr)) || !Click) {
    Click = nullptr;
    return false;
  }
  if (!FillClick()) {
    Click->Release();
    Click = nullptr;
    return false;
  }
  return true;
}

bool PlatLoadClick() {
  if (!SoundThere) return false;
  DWORD size = 0;
  const unsigned char* file = ResourceBytes(KVX_CLICK_SOUND, &size);
  if (!file || size < 12 || memcmp(file, "RIFF", 4) != 0 ||
      memcmp(file + 8, "WAVE", 4) != 0)
    return false;
  const unsigned char* format = nullptr;
  DWORD formatBytes = 0;
  const unsigned char* data = nullptr;
  DWORD dataBytes = 0;
  for (DWORD at = 12; at + 8 <= size;) {
    DWORD chunk = Le32(file + at + 4);
    if (chunk > size - at - 8) break;
    if (memcmp(file + at, "fmt ", 4) == 0) {
      format = file + at + 8;
      formatBytes = chunk;
    } else if (memcmp(file + at, "data", 4) == 0) {
      data = file + at + 8;
      dataBytes = chunk;
    }
    at += 8 + chunk + (chunk & 1);
  }
  if (!format || formatBytes < 16 || !data || dataBytes == 0) return false;

  WAVEFORMATEX wave;
  ZeroMemory(&wave, sizeof wave);
  memcpy(&wave, format, 16);
  if (wave.wFormatTag != WAVE_FORMAT_PCM) return false;
  wave.cbSize = 0;
  ClickFormat = wave;
  ClickSamples = data;
  ClickBytes = dataBytes;
  return true;
}

void PlatPlayClick() {
  if (!Click) {
    // The first click starts the sound system; one that failed to start
    // stays silent for the rest of the run.
    if (SoundTried || !SoundThere || !ClickSamples) return;
    SoundTried = true;
    if (!StartSoundSystem()) return;
    if (!MakeClickBuffer()) {
      StopSoundSystem();
      return;
    }
  }
  Click->Stop();
  Click->SetCurrentPosition(0);
  if (Click->Play(0, 0, 0) == DSERR_BUFFERLOST) {
    if (SUCCEEDED(Click->Restore()) && FillClick()) {
      Click->SetCurrentPosition(0);
      Click->Play(0, 0, 0);
    }
  }
}

void PlatReleaseSound() {
  StopSoundSystem();
  // Silent from now on: no click starts the sound system again.
  SoundThere = false;
  ClickSamples = nullptr;
  ClickBytes = 0;
}
