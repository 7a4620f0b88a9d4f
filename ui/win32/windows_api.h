// <windows.h> and the common controls (the tooltips) for the Win32 front end, in their
// wide-character form. The MessageBox and LoadString macros would rename ui::Window's members
// of those names, so they go: this code names the W functions itself.
#pragma once

#ifndef UNICODE
#define UNICODE
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX  // the C++ library's configuration may already have it
#define NOMINMAX
#endif
#include <windows.h>

#include <commctrl.h>  // needs <windows.h> first

#undef MessageBox
#undef LoadString
