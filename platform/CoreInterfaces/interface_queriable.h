#pragma once

// Root of every host interface: lets a library ask an object for a further interface by name.
class IInterfaceQueriable {
 public:
  virtual ~IInterfaceQueriable() = default;

  // Returns the interface called `name`, or a null pointer when the object offers none.
  virtual void* QueryInterface(const char* /*name*/) { return nullptr; }
};
