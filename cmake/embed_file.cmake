# cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P embed_file.cmake
# Writes a C++ source that holds the bytes of the compiled resources INPUT
# and registers them as the module's resources when the program starts.
file(READ "${INPUT}" bytes HEX)
string(LENGTH "${bytes}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}"
  "// Generated from ${INPUT}; do not edit.\n"
  "#include <compat_seams.h>\n"
  "static const unsigned char ${SYMBOL}[] = {\n${bytes}\n};\n"
  "static const int ${SYMBOL}_registered =\n"
  "    CompatRegisterModuleResources(${SYMBOL}, ${size});\n")
