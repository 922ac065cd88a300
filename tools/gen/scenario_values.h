// The values of a scenario file: words, numbers, seconds, clock times,
// dates and texts (with their ARIB additional symbols), each checked and
// converted for the scenario parser.
#ifndef KESTRIN_TOOLS_GEN_SCENARIO_VALUES_H
#define KESTRIN_TOOLS_GEN_SCENARIO_VALUES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace gen {

std::string Trim(const std::string& s);
std::vector<std::string> Words(const std::string& s);
bool ParseInt(const std::string& text, int64_t minimum, int64_t maximum, int64_t& value);
bool ParseSecondsMs(const std::string& text, int64_t& ms);
bool ParseClock(const std::string& text, int& h, int& m, int& s);
bool ParseDateTime(const std::string& text, int64_t& seconds);
bool SymbolToShiftJis(uint16_t code, std::string& out);
bool ParseText(const std::string& value, std::string& sjis, std::string& error);
// A Shift_JIS text encoded as ARIB 8-unit code. Scenarios of many services
// repeat the same texts thousands of times: the last few thousand texts
// encoded on this thread are remembered.
std::vector<uint8_t> AribBytes(const std::string& sjis);
// Bytes of a Shift_JIS text once encoded as ARIB 8-unit code.
size_t AribSize(const std::string& sjis);

}  // namespace gen

#endif
