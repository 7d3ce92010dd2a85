#pragma once
// The verbs of dialog scripts, one row each: how a step is played into the dialog in front, or
// which question of the front end it answers, and what it cannot do without. The parser
// (host/zel_dialog_script.cpp) checks each step against its verb's row.

#include <string>
#include <string_view>

#include "host/zel_dialog_script.h"

// Whether scripts know `verb` ("set", "click", ...).
bool ZelIsScriptVerb(std::string_view verb);

// What the step lacks that its verb cannot do without ("\"set\" needs \"text\" or
// \"value\""); empty when it lacks nothing.
std::string ZelScriptStepRefusal(const ZelScriptAction& action);
