# SPDX-License-Identifier: GPL-3.0-or-later
# The string table: tools/gen_strings.py builds it and the header of named
# string ids from the per-language sources, and the table is compiled into
# the program as a byte array.
#
# Included from src/CMakeLists.txt it defines ordika_embed_strings(target);
# run with -P it writes the embedding source (variables IN and OUT).
if(CMAKE_SCRIPT_MODE_FILE)
  file(READ "${IN}" hex HEX)
  string(LENGTH "${hex}" hex_len)
  math(EXPR size "${hex_len} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # Break the array into lines of 32 bytes so compilers and editors cope.
  string(REPEAT "0x[0-9a-f][0-9a-f]," 32 row)
  string(REGEX REPLACE "(${row})" "\\1\n" bytes "${bytes}")
  file(WRITE "${OUT}.tmp"
    "// Generated from the string table; do not edit.\n"
    "#include <cstddef>\n"
    "extern const unsigned char ordika_strings_data[];\n"
    "extern const size_t ordika_strings_size;\n"
    "const unsigned char ordika_strings_data[] = {\n${bytes}\n0x00};\n"
    "const size_t ordika_strings_size = ${size};\n")
  file(RENAME "${OUT}.tmp" "${OUT}")
  return()
endif()

# The header lands in <build>/src/generated/include/support/string_ids.h and
# is found as "support/string_ids.h" by every target that links `target`.
# It is generated rather than committed: branches that add texts then touch
# only the sources, and it cannot go stale.
function(ordika_embed_strings target)
  set(src ${PROJECT_SOURCE_DIR}/resources/strings)
  set(gen ${CMAKE_CURRENT_BINARY_DIR}/generated)
  set(header ${gen}/include/support/string_ids.h)
  set(table ${gen}/strings.txt)
  set(out ${gen}/strings_data.cc)
  set(sources ${src}/names.txt)
  foreach(lang en fr es de ru)
    list(APPEND sources ${src}/${lang}.txt)
  endforeach()
  add_custom_command(
    OUTPUT ${header} ${table}
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/gen_strings.py
            --root ${PROJECT_SOURCE_DIR} --header ${header} --table ${table}
    DEPENDS ${sources} ${PROJECT_SOURCE_DIR}/tools/gen_strings.py
    COMMENT "Generating the string ids and table"
    VERBATIM)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DIN=${table} -DOUT=${out} -P ${PROJECT_SOURCE_DIR}/cmake/strings.cmake
    DEPENDS ${table} ${PROJECT_SOURCE_DIR}/cmake/strings.cmake
    COMMENT "Embedding the string table"
    VERBATIM)
  # A target of its own, so that every target including the header waits
  # for it, not only `target`.
  add_custom_target(${target}_string_ids DEPENDS ${header})
  add_dependencies(${target} ${target}_string_ids)
  target_sources(${target} PRIVATE ${out})
  target_include_directories(${target} PUBLIC ${gen}/include)
endfunction()
