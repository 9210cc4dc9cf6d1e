#include "cost/PermissionsItem.h"

LockObjectKind LockObjectKindFromTable(const _stringx<>& table)
{
    if (table.equals(L"CreateFolder")) {
        return LockObjectKind::CreateFolder;
    }
    if (table.equals(L"File")) {
        return LockObjectKind::File;
    }
    if (table.equals(L"Registry")) {
        return LockObjectKind::Registry;
    }
    return LockObjectKind::Unknown;
}

SE_OBJECT_TYPE ObjectTypeForKind(LockObjectKind kind)
{
    switch (kind) {
    case LockObjectKind::File:
    case LockObjectKind::CreateFolder:
        return SE_FILE_OBJECT;
    case LockObjectKind::Registry:
        return SE_REGISTRY_KEY;
    case LockObjectKind::Unknown:
        break;
    }
    return SE_UNKNOWN_OBJECT_TYPE;
}
