#include "framework/Application.h"

namespace {
CWinApp* g_application = nullptr;
}

CWinApp::CWinApp() noexcept {
    g_application = this;
}

CWinApp::~CWinApp() {
    if (g_application == this)
        g_application = nullptr;
}

CWinApp* CWinApp::Current() noexcept {
    return g_application;
}

int CWinApp::Run() noexcept {
    CWinApp* app = Current();
    if (app == nullptr)
        return 0;
    (void)app->InitInstance();
    return app->ExitInstance();
}
