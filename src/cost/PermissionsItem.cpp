#include "cost/PermissionsItem.h"

LockObjectKind LockObjectKindFromTable(const wchar_t* table, std::size_t length)
{
    const struct {
        const wchar_t* word;
        std::size_t length;
        LockObjectKind kind;
    } words[] = {{L"CreateFolder", 12, LockObjectKind::CreateFolder},
                 {L"File", 4, LockObjectKind::File},
                 {L"Registry", 8, LockObjectKind::Registry},
                 {L"ServiceInstall", 14, LockObjectKind::Service}};
    for (const auto& word : words) {
        if (length == word.length && qx::char_traitsi::compare(table, word.word, length) == 0) {
            return word.kind;
        }
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
    case LockObjectKind::Service:
        return SE_SERVICE;
    case LockObjectKind::Unknown:
        break;
    }
    return SE_UNKNOWN_OBJECT_TYPE;
}
