# cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P embed_file.cmake
# Writes a C++ source that holds the bytes of INPUT as SYMBOL, with
# SYMBOL_size giving their count.
file(READ "${INPUT}" bytes HEX)
string(LENGTH "${bytes}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}"
  "// Generated from ${INPUT}; do not edit.\n"
  "#include <stddef.h>\n"
  "extern const unsigned char ${SYMBOL}[] = {\n${bytes}\n};\n"
  "extern const size_t ${SYMBOL}_size = ${size};\n")
