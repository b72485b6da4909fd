# cmake -DIN=<file> -DOUT=<file.cpp> -DSYMBOL=<name> -P embed_binary.cmake
# Writes a C++ source that holds the bytes of IN as
# nuva::detail::<SYMBOL>Bytes and their number as nuva::detail::<SYMBOL>Size.
# Unlike embed_text.cmake nothing is appended: the bytes are the file.
file(READ "${IN}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
if(size EQUAL 0)
  message(FATAL_ERROR "${IN} is empty")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUT}.tmp"
  "// Generated from ${IN}; do not edit.\n"
  "#include <cstddef>\n"
  "namespace nuva::detail {\n"
  "extern const unsigned char ${SYMBOL}Bytes[];\n"
  "extern const size_t ${SYMBOL}Size;\n"
  "const unsigned char ${SYMBOL}Bytes[] = {\n${bytes}};\n"
  "const size_t ${SYMBOL}Size = ${size};\n"
  "}  // namespace nuva::detail\n")
file(RENAME "${OUT}.tmp" "${OUT}")
