#include "entry/SecureObject.h"

#include "apply/AccessEntries.h"
#include "apply/AccountResolution.h"
#include "apply/ApplyRules.h"
#include "helper64/HelperRoute.h"

void CQXSecureObject::Log(const _stringx<>& /*message*/) { }

void CQXSecureObject::PrepareRow(PreparedRow& row)
{
    if (!AppliesThroughHelper(*row.item)) {
        row.sid = ResolveItemSid(*this, *this, row.item->m_strDomain, row.item->m_strUser);
    }
}

void CQXSecureObject::ApplyObject(const std::vector<PreparedRow>& rows)
{
    // A helper's object always has one row: it takes one a call.
    if (AppliesThroughHelper(*rows.front().item)) {
        ApplyItemThroughHelper(
            *this, [this](IQXBEWUtils** helper) { return CreateBitUtilsHelper(helper); }, *rows.front().item);
    } else {
        UpdateObjectSecurity(*this, *this, rows);
    }
}
