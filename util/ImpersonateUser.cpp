#include "util/ImpersonateUser.h"

#include "util/Utility.h"

CImpersonateUser::CImpersonateUser() {
    if (CUtility::GetLoggedOnUserToken(userToken_, CUtility::kAnySession) && userToken_ &&
        ::ImpersonateLoggedOnUser(userToken_.get()))
        impersonating_ = true;
}

CImpersonateUser::~CImpersonateUser() {
    if (impersonating_)
        ::RevertToSelf();
    impersonating_ = false;
    userToken_.reset();
}
