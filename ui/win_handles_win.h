// Owners for the Win32 handles the window uses: GDI objects, device contexts,
// the clipboard, global memory and hooks. Each releases its handle when it goes
// out of scope, so no early return or exception leaves one behind.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <utility>

namespace resicrypt::win {

// A GDI object (font, brush) created by the window and deleted with it.
class GdiObject {
 public:
  GdiObject() = default;
  explicit GdiObject(HGDIOBJ object) : object_(object) {}
  ~GdiObject() { Reset(); }
  GdiObject(GdiObject&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  GdiObject& operator=(GdiObject&& other) noexcept {
    if (this != &other) {
      Reset();
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;

  HGDIOBJ Get() const { return object_; }
  HFONT Font() const { return static_cast<HFONT>(object_); }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  void Reset() {
    if (object_ != nullptr) DeleteObject(object_);
    object_ = nullptr;
  }
  HGDIOBJ object_ = nullptr;
};

// The device context of a window (or of the screen for a null window).
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~WindowDc() {
    if (dc_ != nullptr) ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;

  HDC Get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// Selects an object into a device context and puts the previous one back.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~SelectedObject() {
    if (previous_ != nullptr && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
  }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
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

// Movable global memory, freed unless ownership passed to the system (Release).
class GlobalMemory {
 public:
  explicit GlobalMemory(SIZE_T size) : memory_(GlobalAlloc(GMEM_MOVEABLE, size)) {}
  ~GlobalMemory() {
    if (memory_ != nullptr) GlobalFree(memory_);
  }
  GlobalMemory(const GlobalMemory&) = delete;
  GlobalMemory& operator=(const GlobalMemory&) = delete;

  HGLOBAL Get() const { return memory_; }
  HGLOBAL Release() { return std::exchange(memory_, nullptr); }
  explicit operator bool() const { return memory_ != nullptr; }

 private:
  HGLOBAL memory_;
};

// A lock on global memory, for reading or filling it.
class GlobalLockScope {
 public:
  explicit GlobalLockScope(HGLOBAL memory) : memory_(memory), data_(GlobalLock(memory)) {}
  ~GlobalLockScope() {
    if (data_ != nullptr) GlobalUnlock(memory_);
  }
  GlobalLockScope(const GlobalLockScope&) = delete;
  GlobalLockScope& operator=(const GlobalLockScope&) = delete;

  void* Data() const { return data_; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  HGLOBAL memory_;
  void* data_;
};

// A hook of this thread, removed when the scope ends.
class ThreadHook {
 public:
  ThreadHook(int kind, HOOKPROC procedure)
      : hook_(SetWindowsHookExA(kind, procedure, nullptr, GetCurrentThreadId())) {}
  ~ThreadHook() {
    if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
  }
  ThreadHook(const ThreadHook&) = delete;
  ThreadHook& operator=(const ThreadHook&) = delete;

 private:
  HHOOK hook_;
};

}  // namespace resicrypt::win
