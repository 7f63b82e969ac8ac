#pragma once
// GDI+'s headers use min and max, which the program's NOMINMAX takes away,
// and OLE's property ids, which WIN32_LEAN_AND_MEAN leaves out.
#include <windows.h>
#include <objidl.h>

#include <algorithm>

namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus

#include <gdiplus.h>
