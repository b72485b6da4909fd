# cmake -DIN=<file> -DOUT=<file.cpp> -DSYMBOL=<name> -P embed_text.cmake
# Writes a C++ source that holds the bytes of IN, followed by a zero byte, as
# nuva::detail::<SYMBOL>Text, and their number (without the zero) as
# nuva::detail::<SYMBOL>Size.
file(READ "${IN}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUT}.tmp"
  "// Generated from ${IN}; do not edit.\n"
  "#include <cstddef>\n"
  "namespace nuva::detail {\n"
  "extern const unsigned char ${SYMBOL}Text[];\n"
  "extern const size_t ${SYMBOL}Size;\n"
  "const unsigned char ${SYMBOL}Text[] = {\n${bytes}0x00};\n"
  "const size_t ${SYMBOL}Size = ${size};\n"
  "}  // namespace nuva::detail\n")
file(RENAME "${OUT}.tmp" "${OUT}")
