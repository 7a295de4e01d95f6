# Compiles resources/strings.txt into the program as a byte array.
#
# Included from src/CMakeLists.txt it defines ordika_embed_strings(target);
# run with -P it writes the generated source (variables IN and OUT).
if(CMAKE_SCRIPT_MODE_FILE)
  file(READ "${IN}" hex HEX)
  string(LENGTH "${hex}" hex_len)
  math(EXPR size "${hex_len} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # Break the array into lines of 32 bytes so compilers and editors cope.
  string(REPEAT "0x[0-9a-f][0-9a-f]," 32 row)
  string(REGEX REPLACE "(${row})" "\\1\n" bytes "${bytes}")
  file(WRITE "${OUT}.tmp"
    "// Generated from resources/strings.txt; do not edit.\n"
    "#include <cstddef>\n"
    "extern const unsigned char ordika_strings_data[];\n"
    "extern const size_t ordika_strings_size;\n"
    "const unsigned char ordika_strings_data[] = {\n${bytes}\n0x00};\n"
    "const size_t ordika_strings_size = ${size};\n")
  file(RENAME "${OUT}.tmp" "${OUT}")
  return()
endif()

function(ordika_embed_strings target)
  set(in ${PROJECT_SOURCE_DIR}/resources/strings.txt)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/generated/strings_data.cc)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/generated
    COMMAND ${CMAKE_COMMAND} -DIN=${in} -DOUT=${out} -P ${PROJECT_SOURCE_DIR}/cmake/strings.cmake
    DEPENDS ${in} ${PROJECT_SOURCE_DIR}/cmake/strings.cmake
    COMMENT "Embedding the string table"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
endfunction()
