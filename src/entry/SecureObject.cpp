#include "entry/SecureObject.h"

#include "apply/AccessEntries.h"
#include "apply/ApplyRules.h"
#include "helper64/HelperRoute.h"

void CQXSecureObject::Log(const _stringx<>& /*message*/) { }

void CQXSecureObject::ApplyItem(const PermissionsItem& item)
{
    if (AppliesThroughHelper(item)) {
        ApplyItemThroughHelper(
            *this, [this](IQXBEWUtils** helper) { return CreateBitUtilsHelper(helper); }, item);
    } else {
        ApplyItemInProcess(*this, *this, item);
    }
}
