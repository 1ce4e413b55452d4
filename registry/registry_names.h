// The fixed names the registry uses as store key and value names.
#pragma once

#include "registry/registry_impl.h"
#include "vxcore/astring.h"

inline const AString kAdminKeyName = L"admin";
inline const AString kDefaultKeyName = L"default";
inline const AString kUserKeyName = L"user";
inline const AString kUserKeySuffix = L"_user";
inline const AString kRegistrySyntaxName = L"RegistrySyntax";
inline const AString kProductsKeyPath = L"admin/products";
inline const AString kMultipleApplicationsValue = L"SupportsMultipleApplications";

// The providers a read by precedence searches, in order.
inline constexpr ConfigurationProvider kProviderPrecedence[] = {
    ProviderUserMachine, ProviderUser, ProviderInstallMachine, ProviderInstall};
