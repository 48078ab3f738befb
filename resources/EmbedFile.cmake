# Turns one binary file into a C++ source that defines it as a byte array,
# so the program carries its resources in read-only data.
#
#   cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DSYMBOL=<name> -DHEADER=<include> -P EmbedFile.cmake

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n    " bytes "${bytes}")

file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT}; do not edit.\n"
"#include \"${HEADER}\"\n\n"
"namespace Resources {\n\n"
"const unsigned char ${SYMBOL}[] = {\n    ${bytes}\n};\n\n"
"const std::size_t ${SYMBOL}Size = ${size};\n\n"
"} // namespace Resources\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
