# Script mode: takes the RT_VERSION resource out of a compiled .res file and writes a C source
# that places its bytes, as they are, in the ELF section .tandor_version.
#   cmake -DRES=<file.res> -DOUT=<file.c> -P ExtractVersionResource.cmake
#
# A .res file is a list of entries: DataSize (4), HeaderSize (4), type, name, ..., then the
# data, each entry starting on a 4-byte boundary. Type 16 written as the ordinal form
# (0xFFFF, 16) is RT_VERSION.

file(READ "${RES}" hex HEX)
string(LENGTH "${hex}" hexLength)

function(read_le offset width result)
  set(value 0)
  math(EXPR last "${width} - 1")
  foreach(i RANGE ${last})
    math(EXPR at "(${offset} + ${last} - ${i}) * 2")
    string(SUBSTRING "${hex}" ${at} 2 byte)
    math(EXPR value "(${value} << 8) + 0x${byte}")
  endforeach()
  set(${result} ${value} PARENT_SCOPE)
endfunction()

set(offset 0)
set(found FALSE)
math(EXPR total "${hexLength} / 2")
while(offset LESS total)
  read_le(${offset} 4 dataSize)
  math(EXPR headerAt "${offset} + 4")
  read_le(${headerAt} 4 headerSize)
  math(EXPR typeAt "${offset} + 8")
  read_le(${typeAt} 2 typeMarker)
  math(EXPR typeIdAt "${offset} + 10")
  read_le(${typeIdAt} 2 typeId)
  if(typeMarker EQUAL 65535 AND typeId EQUAL 16 AND dataSize GREATER 0)
    math(EXPR dataAt "${offset} + ${headerSize}")
    set(found TRUE)
    break()
  endif()
  math(EXPR offset "((${offset} + ${headerSize} + ${dataSize}) + 3) / 4 * 4")
endwhile()
if(NOT found)
  message(FATAL_ERROR "${RES} holds no version resource")
endif()

math(EXPR hexAt "${dataAt} * 2")
math(EXPR hexCount "${dataSize} * 2")
string(SUBSTRING "${hex}" ${hexAt} ${hexCount} data)
set(lines "")
set(i 0)
while(i LESS hexCount)
  string(SUBSTRING "${data}" ${i} 32 chunk)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," chunk "${chunk}")
  string(REGEX REPLACE ",$" "" chunk "${chunk}")
  string(APPEND lines "    \".byte ${chunk}\\n\"\n")
  math(EXPR i "${i} + 32")
endwhile()

file(WRITE "${OUT}" "/* Generated from ${RES}: the updater's own version resource. */
/* Assembler directives keep the bytes exactly as the resource compiler wrote them: no
   compiler padding and no sanitizer red zones end up in the section. \"R\" keeps the section
   even where the linker drops unreferenced ones. */
__asm__(\".pushsection .tandor_version,\\\"aR\\\",@progbits\\n\"
    \".balign 4\\n\"
${lines}    \".popsection\\n\");
")
