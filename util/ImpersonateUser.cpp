#include "util/ImpersonateUser.h"

#include "util/Utility.h"

CImpersonateUser::CImpersonateUser() noexcept {
    if (CUtility::GetLoggedOnUserToken(m_userToken, CUtility::kAnySession) && m_userToken &&
        ::ImpersonateLoggedOnUser(m_userToken.get()))
        m_impersonating = TRUE;
}

CImpersonateUser::~CImpersonateUser() {
    if (m_impersonating)
        ::RevertToSelf();
    m_impersonating = FALSE;
    m_userToken.reset();
}
