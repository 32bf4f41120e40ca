// Owners for the Win32 handles the window uses: GDI objects, device contexts,
// global memory, hooks, kernel objects and DDE string handles. Each releases its
// handle when it goes out of scope, so no early return or exception leaves one
// behind. An object selected into a device context and a lock on global memory
// are held the same way and put back when they end; the clipboard session closes
// the clipboard it opened.
#pragma once

#include <windows.h>

#include <cstddef>
#include <type_traits>
#include <utility>

namespace resicrypt::win {

// One handle, given to Close when its owner ends or takes another. A closer that
// needs a second value (ReleaseDC's window, DdeFreeStringHandle's instance) takes
// it first: the Context kept beside the handle.
template <class Handle, auto Close, class Context = std::nullptr_t>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle, Context context = {}) : handle_(handle), context_(context) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept
      : handle_(other.Release()), context_(other.context_) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      context_ = other.context_;
      handle_ = other.Release();
    }
    return *this;
  }

  Handle Get() const { return handle_; }
  // Hands the handle on (global memory to the clipboard): no longer closed here.
  Handle Release() { return std::exchange(handle_, Handle{}); }
  explicit operator bool() const { return handle_ != Handle{}; }
  void Reset() {
    if (handle_ == Handle{}) return;
    if constexpr (std::is_same_v<Context, std::nullptr_t>) {
      Close(Release());
    } else {
      Close(context_, Release());
    }
  }

 private:
  Handle handle_{};
  Context context_{};
};

// A GDI object (font, brush) created by the window and deleted with it.
using GdiObject = UniqueHandle<HGDIOBJ, DeleteObject>;
// Movable global memory, freed unless ownership passed to the system (Release).
using GlobalMemory = UniqueHandle<HGLOBAL, GlobalFree>;
// A hook of this thread.
using ThreadHook = UniqueHandle<HHOOK, UnhookWindowsHookEx>;
// A process or thread handle.
using KernelHandle = UniqueHandle<HANDLE, CloseHandle>;

// The device context of a window (or of the screen for a null window).
struct WindowDc : UniqueHandle<HDC, ReleaseDC, HWND> {
  explicit WindowDc(HWND window) : UniqueHandle(GetDC(window), window) {}
};

// Selects an object into a device context and puts the previous one back. For
// a font or a brush a failed selection gives null, so nothing is put back.
struct SelectedObject : UniqueHandle<HGDIOBJ, SelectObject, HDC> {
  SelectedObject(HDC dc, HGDIOBJ object) : UniqueHandle(SelectObject(dc, object), dc) {}
};

// The clipboard, opened for one read or one write. Another program may hold it for
// a moment, so opening is tried a few times before it counts as failed.
class ClipboardSession {
 public:
  explicit ClipboardSession(HWND owner) {
    for (int attempt = 0; attempt < 10 && !open_; ++attempt) {
      if (attempt > 0) Sleep(20);
      open_ = OpenClipboard(owner) != FALSE;
    }
  }
  ~ClipboardSession() {
    if (open_) CloseClipboard();
  }
  ClipboardSession(const ClipboardSession&) = delete;
  ClipboardSession& operator=(const ClipboardSession&) = delete;

  explicit operator bool() const { return open_; }

 private:
  bool open_ = false;
};

// GlobalUnlock in the closer's order: the memory first, then its locked data.
inline BOOL UnlockGlobal(HGLOBAL memory, void*) { return GlobalUnlock(memory); }

// A lock on global memory, for reading or filling it; Get() is the data.
struct GlobalLockScope : UniqueHandle<void*, UnlockGlobal, HGLOBAL> {
  explicit GlobalLockScope(HGLOBAL memory) : UniqueHandle(GlobalLock(memory), memory) {}
};

}  // namespace resicrypt::win
