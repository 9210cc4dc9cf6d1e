// Base of the permissions manager: the security entry points, the log, and the
// apply step of one item, in this process or through the 64-bit helper.
#pragma once

#include <windows.h>

#include <vector>

#include "apply/AccessEntries.h"
#include "apply/SecurityFunctions.h"
#include "cost/PermissionsItem.h"
#include "support/log_sink.h"
#include "support/stringx.h"

struct IQXBEWUtils;

class CQXSecureObject : public qx::log_sink, public CSecurityFunctions {
public:
    CQXSecureObject() = default;

    // One line into the installation log; the base has no log.
    void Log(const _stringx<>& message) override;
    // Creates, starts and hands back the proxy of a new 64-bit helper process.
    virtual HRESULT CreateBitUtilsHelper(IQXBEWUtils** helper) = 0;

    // The install action's steps: registry items of the other view through the
    // helper (which resolves their accounts itself), everything else in this
    // process. A failure throws qx::error with a Win32 code or the helper route's
    // HRESULT.
    void PrepareRow(PreparedRow& row);
    void ApplyObject(const std::vector<PreparedRow>& rows);
};
