// The tool's answers to the registry and to the foundation library: both
// know nothing but the product name from the command line.
#pragma once

#include "CoreInterfaces/talven_application.h"
#include "registry/morix_registry_client.h"
#include "registry/morix_registry_impl.h"
#include "tool/tool_options.h"
#include "vxcore/astring.h"

class ToolRegistryAccess : public IMorixRegistryClient {
 public:
  explicit ToolRegistryAccess(const AString& productName) : productName(productName) {}

  bool SetClientFlag(bool) override { return false; }
  // Empty: the registry uses the executable's folder.
  AString GetInstallDirOverride() override { return AString(); }
  AString GetVersionedProductName() override { return productName; }
  // Empty: a multi-product store picks the product by this name.
  AString GetDesktopProductName() override { return AString(); }

  AString productName;
};

// The registry of the product the command line names, loaded as the run may:
// a run that must create nothing leaves a missing user folder missing.
struct ProductRegistry {
  explicit ProductRegistry(const ToolOptions& options)
      : client(options.values[SlotProductName]), registry(&client) {
    registry.createsUserFolder = CreatesUserFolder(options);
  }
  ProductRegistry(const ProductRegistry&) = delete;
  ProductRegistry& operator=(const ProductRegistry&) = delete;

  ToolRegistryAccess client;
  MorixRegistryImpl registry;
};

// Made only for the TempDirectory setting, which lives in the foundation
// library's own registry.
class SetwiseTalvenApplication : public ITalvenApplication {
 public:
  explicit SetwiseTalvenApplication(const AString& productName) : productName(productName) {}

  void* GetInterfaceA() override { return nullptr; }
  void NotifyA() override {}
  void* GetInterfaceB() override { return nullptr; }
  bool IsFeatureA() const override { return true; }
  bool IsFeatureB() const override { return true; }
  AString GetInstallDirectory() const override;
  AString GetRegistryFileName() const override { return productName; }
  AString GetExeDirectory() const override;

  AString productName;
};
