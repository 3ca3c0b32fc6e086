// C++ side of automation_base.idl: the real declarations come from the SDK headers.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <oaidl.h>
