#include "tool/commands/commands.h"

int RunCheck(ToolOptions&, JsonOutput*) { return JsonRefused; }
