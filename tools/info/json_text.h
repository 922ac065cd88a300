// A string as a JSON string literal, for the tool's hand-written JSON
// outputs (the guide and the captions, written without a JSON library so
// that their bytes stay what the peers expect).
#ifndef KESTRIN_TOOLS_INFO_JSON_TEXT_H
#define KESTRIN_TOOLS_INFO_JSON_TEXT_H

#include <string>

// Appends `text` (UTF-8) quoted, with '"', '\\' and the control characters
// escaped.
void AppendJsonString(std::string& out, const std::string& text);

#endif
