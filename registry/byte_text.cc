#include "registry/byte_text.h"

#include "cfgkit/xml_text.h"

bool IsValidUtf8(std::string_view bytes) { return cfgkit::IsValidUtf8(bytes); }

std::string HexEncode(std::string_view bytes) { return cfgkit::HexEncode(bytes); }
