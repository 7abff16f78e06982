// The operations that write log lines, named as every line names its writer: the class and the
// operation joined by two colons, in the "[%s]" that begins each line's format.
#pragma once

namespace logsource {

inline constexpr wchar_t kInitInstance[] = L"CUnPackFileApp::InitInstance";
inline constexpr wchar_t kFindHeader[] = L"CUnPack::FindHeader";
inline constexpr wchar_t kUnPackFiles[] = L"CUnPack::UnPackFiles";
inline constexpr wchar_t kGetUnpackDir[] = L"CUnPack::GetUnpackDir";
inline constexpr wchar_t kOSInfo[] = L"CUtility::OSInfo";
inline constexpr wchar_t kFileException[] = L"CUtility::FileException";

} // namespace logsource
