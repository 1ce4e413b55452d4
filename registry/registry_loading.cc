// Loading the store once per process, telling single- from multi-product
// stores, the providers' key paths, opening keys, and saving.
#include "registry/function_trace.h"
#include "registry/morix_registry_impl.h"
#include "registry/registry_names.h"
#include "vxcore/assert_failure.h"
#include "vxcore/file_utilities.h"
#include "vxcore/tal_debug.h"

namespace {

bool storeLoaded = false;

// The store reports damaged files through this; its lines end with "\n".
void ForwardStoreLog(int level, const char* line) { TalDebug(level, L"%s", AString(line).c_str()); }

constexpr const wchar_t* kGetKeyTraceName = L"MorixRegistryImpl::GetMorixRegistryKey()";

bool IsDigitOrDot(wchar_t c) { return (c >= L'0' && c <= L'9') || c == L'.'; }

}  // namespace

void MorixRegistryImpl::EnsureMorixRegistryIsLoaded() {
  if (storeLoaded) return;
  FunctionTrace trace(1, L"MorixRegistryImpl::EnsureMorixRegistryIsLoaded()");
  AString adminDir = GetAdminDir();
  AString userDir = GetUserConfigDir();
  if (userDirIsAdminDir) userDir = adminDir;
  trace.Message(L"Admin folder is: %s User folder is: %s", adminDir.c_str(), userDir.c_str());
  if (readOnlyLoad) {
    // The store writes an image of each file it parses, and rewrites the
    // header of an image it verifies.
    static const cfgkit::StoreOptions kNoImages;
    TalRegSetStoreOptions(&kNoImages);
  } else if (createsUserFolder) {
    PrepareUserFolder(userDir, trace);
  }
  CFileUtilities::SetToBackSlashes(adminDir);
  CFileUtilities::SetToBackSlashes(userDir);

  trace.Message(L"Calling _LoadPathsA(), admin dir:%s, user dir:%s", adminDir.c_str(),
                userDir.c_str());
  // Damaged files are reported at level 1; below it the store need not read
  // the files this run does not use.
  TalRegSetLogSink(my_tal_debug_data.Debug(1) ? &ForwardStoreLog : nullptr);
  // A listing reads the syntax files' values in name order; their images keep it.
  TalRegKeepNameOrderOf([](std::string_view topKey) {
    static const std::string kSyntax = kRegistrySyntaxName.ASCII();
    return topKey.ends_with(kSyntax);
  });
  int status = _LoadPathsA(adminDir.ASCII().c_str(), userDir.ASCII().c_str());
  trace.Message(L"_LoadPathA() returned %d", status);

  if (status == kTalRegOk) {
    if (IsMultiProductStore()) {
      trace.Message(L"Detected a multiple product registry format");
      AString product = client->GetDesktopProductName();
      if (product.empty()) {
        product = GetBestMatchingProductNameFromRegistry();
        trace.Message(L"No IDesktop, best product name is %s", product.c_str());
      }
      if (product.empty()) {
        trace.Message(L"ERROR: Could not determine product name in multiproduct file");
      } else {
        trace.Message(L"Product name is: %s", product.c_str());
        SetKeyFields(true, product);
        trace.Message(L"Using registry key: %s", adminKey.c_str());
      }
    } else {
      trace.Message(L"Detected a single product registry format");
      SetKeyFields(false, AString());
    }
  } else {
    trace.Message(L"Error: _LoadPathA() failed");
  }

  if (adminKey.empty()) {
    trace.Message(L"Unable to determine admin key name");
    trace.Message(L"This is not usually fatal for engines, but desktops won't be usable.");
  } else {
    StoreKey key;
    if (key.Open(adminKey.ASCII().c_str())) {
      trace.Message(L"Success! verified that admin key %s exists", adminKey.c_str());
    } else {
      trace.Message(L"Error! unable to locate admin key %s", adminKey.c_str());
      trace.Message(L"This is not usually fatal for engines, but desktops won't be usable.");
    }
  }
  storeLoaded = true;
}

void MorixRegistryImpl::SetKeyFields(bool multiProduct, const AString& product) {
  AString host = GetHostName();
  if (!multiProduct) {
    adminKey = kAdminKeyName;
    installKey = kDefaultKeyName;
    installMachineKey = host;
    syntaxKey = kRegistrySyntaxName;
    return;
  }
  adminKey.Format(L"%s/%s", kProductsKeyPath.c_str(), product.c_str());
  installKey.Format(L"%s/products/%s", kDefaultKeyName.c_str(), product.c_str());
  installMachineKey.Format(L"%s/products/%s", host.c_str(), product.c_str());
  syntaxKey.Format(L"%s%s", product.c_str(), kRegistrySyntaxName.c_str());
}

bool MorixRegistryImpl::IsMultiProductStore() {
  StoreKey key;
  if (!key.Open(kAdminKeyName.ASCII().c_str())) return false;
  int32_t value = 0;
  int status =
      TalRegGetInt32ValueA(key.get(), kMultipleApplicationsValue.ASCII().c_str(), &value);
  key.Close();
  return status == kTalRegOk && value != 0;
}

AString MorixRegistryImpl::GetBestMatchingProductNameFromRegistry() {
  FunctionTrace trace(1, L"MorixRegistryImpl::GetBestMatchingProductNameFromRegistry()");
  AString versionedName = client->GetVersionedProductName();
  if (versionedName.empty()) return AString();
  std::vector<AString> products;
  GetMorixSubkeyNames(products, kProductsKeyPath);
  const AString* best = nullptr;
  for (const AString& product : products) {
    bool matches = versionedName.compare(0, product.size(), product) == 0;
    if (matches && (best == nullptr || product.size() > best->size())) best = &product;
  }
  if (best != nullptr) return *best;
  size_t end = versionedName.size();
  while (end > 0 && IsDigitOrDot(versionedName[end - 1])) --end;
  return versionedName.Left(end);
}

void MorixRegistryImpl::GetMorixSubkeyNames(std::vector<AString>& names, const AString& regpath) {
  FunctionTrace trace(1, L"MorixRegistryImpl::GetMorixSubkeyNames");
  trace.Parameter(L"regpath", regpath);
  names.clear();
  StoreKey key;
  if (!key.Open(regpath.ASCII().c_str())) {
    trace.Message(L"Unable to open key: %s", regpath.c_str());
  } else {
    trace.Message(L"Successfully opened key: %s", regpath.c_str());
    int32_t count = 0;
    if (TalRegGetNumKeys(key.get(), &count) == kTalRegOk) {
      for (int32_t i = 0; i < count; ++i) {
        char name[1000];
        int32_t size = sizeof name;
        if (TalRegGetSubKeyNameA(key.get(), i, name, &size) == kTalRegOk) names.emplace_back(name);
      }
    }
    key.Close();
  }
  trace.ListParameter(L"Returned subkeys: ", names, true);
}

AString MorixRegistryImpl::GetProviderKeyPath(uint32_t top, const AString& section,
                                              uint32_t provider) {
  AString base;
  if (top == HKLM || provider == ProviderAdmin) {
    base = adminKey;
  } else {
    switch (provider) {
      case ProviderUserMachine:
        base = GetHostName() + kUserKeySuffix;
        break;
      case ProviderUser:
        base = kUserKeyName;
        break;
      case ProviderInstallMachine:
        base = installMachineKey;
        break;
      case ProviderInstall:
        base = installKey;
        break;
      case ProviderRegistrySyntax:
        base = syntaxKey;
        break;
      default:
        VX_ASSERT(!"Invalid configuration provider");
        break;
    }
  }
  return base + L"/" + section;
}

void MorixRegistryImpl::AppendKeyOpenTrace(std::string& lines, std::string_view path,
                                           bool bCreateIfNecessary, bool opened) {
  FunctionTrace trace(kGetKeyTraceName, lines);
  trace.Parameter(L"path", path);
  trace.Parameter(L"bCreateIfNecessary", bCreateIfNecessary ? 1 : 0);
  if (opened) {
    trace.Message(L"Successfully opened key: %.*hs", static_cast<int>(path.size()), path.data());
  }
}

bool MorixRegistryImpl::GetMorixRegistryKey(TalRegKey& key, const AString& path,
                                            bool bCreateIfNecessary) {
  return GetMorixRegistryKey(key, path.ASCII(), bCreateIfNecessary);
}

bool MorixRegistryImpl::GetMorixRegistryKey(TalRegKey& key, const std::string& path,
                                            bool bCreateIfNecessary) {
  EnsureMorixRegistryIsLoaded();
  int status = TalRegOpenKeyA(nullptr, path.c_str(), &key);
  if (my_tal_debug_data.Debug(5)) {
    std::string lines;
    AppendKeyOpenTrace(lines, path, bCreateIfNecessary, status == kTalRegOk);
    TalDebugLines(5, lines);
  }
  if (status == kTalRegOk) return true;
  if (status != kTalRegKeyNotFound || !bCreateIfNecessary) return false;
  FunctionTrace trace(5, kGetKeyTraceName);
  trace.Message(L"Key %hs not found, trying to create", path.c_str());
  status = TalRegCreateKeyA(nullptr, path.c_str(), &key);
  trace.Message(L"TalRegCreateKeyA returned %d", status);
  return status == kTalRegOk;
}

bool MorixRegistryImpl::CommitRegistryChanges() {
  FunctionTrace trace(1, L"MorixRegistryImpl::CommitRegistryChanges()");
  int status = TalRegSave();
  trace.Message(L"TalRegSave() returned %d", status);
  return status == kTalRegOk;
}

bool MorixRegistryImpl::CanCommitRegistryChanges() {
  FunctionTrace trace(1, L"MorixRegistryImpl::CanCommitRegistryChanges()");
  int status = TalRegForeseeSave();
  trace.Message(L"TalRegForeseeSave() returned %d", status);
  return status == kTalRegOk;
}
