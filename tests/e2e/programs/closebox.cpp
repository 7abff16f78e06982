// Closes the message box with the given caption as its OK button would, for the end-to-end
// scenarios' box watcher. A key press would not do: Wine hands X key events to its foreground
// window, a box of an unmanaged window does not always become that, and a key that misses its box
// closes the next one. Exits with 1 when no such box is up.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2)
        return 2;
    HWND box = ::FindWindowW(L"#32770", argv[1]);
    if (box == nullptr)
        return 1;
    return ::PostMessageW(box, WM_COMMAND, IDOK, 0) ? 0 : 1;
}
