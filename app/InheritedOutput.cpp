#include "app/InheritedOutput.h"

InheritedOutput::InheritedOutput(HANDLE output) : output_(output) {
    if (output_ == nullptr)
        return;
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    buffer_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
    if (!::SetHandleInformation(output_, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) ||
        !::InitializeProcThreadAttributeList(list, 1, 0, &size))
        return;
    list_ = list;
    ready_ = ::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &output_,
                                         sizeof output_, nullptr, nullptr) != FALSE;
}

InheritedOutput::~InheritedOutput() {
    if (list_ != nullptr)
        ::DeleteProcThreadAttributeList(list_);
    if (output_ != nullptr)
        ::SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
}

void InheritedOutput::FillIn(STARTUPINFOEXW& startup) const noexcept {
    if (output_ == nullptr)
        return;
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdOutput = output_;
    startup.lpAttributeList = list_;
}
