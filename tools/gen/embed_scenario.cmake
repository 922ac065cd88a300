# Writes OUTPUT, a C++ source defining the bytes of the scenario file INPUT as
# kEmbeddedScenario (a byte array, so that no compiler limit on string
# literals applies) and its size.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT}.tmp
"// Generated from ${INPUT}; do not edit.\n"
"#include <cstddef>\n"
"extern const unsigned char kEmbeddedScenario[];\n"
"extern const size_t kEmbeddedScenarioSize;\n"
"const unsigned char kEmbeddedScenario[] = {\n${bytes}0};\n"
"const size_t kEmbeddedScenarioSize = ${size};\n")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
