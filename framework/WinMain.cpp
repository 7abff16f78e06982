#include "framework/Application.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    return CWinApp::Run();
}
