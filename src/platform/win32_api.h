// The two USER32/KERNEL32 functions the utility uses: MessageBoxA for every
// dialog and Sleep for the completion wait. On Windows they are the real
// ones; elsewhere the platform layer provides stand-ins with the same names,
// values and behaviour (a console box that blocks on standard input).
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdint>

constexpr unsigned MB_OK = 0x00000000u;
constexpr unsigned MB_OKCANCEL = 0x00000001u;
constexpr unsigned MB_ICONWARNING = 0x00000030u;
constexpr unsigned MB_ICONEXCLAMATION = 0x00000030u;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Shows a modal box and returns the button that closed it: IDOK or IDCANCEL.
int MessageBoxA(void* owner_window, const char* text, const char* caption, unsigned style);

// Suspends the calling thread for the given number of milliseconds.
void Sleep(std::uint32_t milliseconds);
#endif
