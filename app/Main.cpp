// The process-wide objects, in the order they must come into being: the application object
// first (its constructor preloads system libraries before anything else is loaded), then the
// single-instance mutex. Both live until the process ends; the mutex goes first.
#include "app/InstanceMutex.h"
#include "app/UnPackFileApp.h"

CUnPackFileApp theApp;
CInstanceMutex theInstanceMutex(L"Global\\{47B9233E-7E50-46F2-B442-6A53F0D0F508}");
