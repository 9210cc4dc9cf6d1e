#include "entry/SecureObject.h"

#include "apply/AccessEntries.h"
#include "apply/ApplyRules.h"
#include "helper64/HelperRoute.h"

void CQXSecureObject::Log(const _stringx<>& /*message*/) { }

DWORD CQXSecureObject::ApplyItem(const PermissionsItem& item)
{
    if (AppliesThroughHelper(item)) {
        return ApplyItemThroughHelper(
            *this, [this](IQXBEWUtils** helper) { return CreateBitUtilsHelper(helper); }, item);
    }
    return ApplyItemInProcess(*this, *this, item);
}
