# Turns the text tables of this folder into C++ constant tables.
#
#   cmake -DDATA_DIR=<folder with the .tsv files> -DOUT=<file.cpp> -P GenPartTables.cmake
#
# Every table is checked while it is read; any fault stops the build with the
# file name, the line number and what is wrong.
cmake_minimum_required(VERSION 3.25)

if(NOT DATA_DIR OR NOT OUT)
  message(FATAL_ERROR "usage: cmake -DDATA_DIR=<dir> -DOUT=<file.cpp> -P GenPartTables.cmake")
endif()

set(FAMILY_COUNT 97)

# Reads a table: sets <prefix>_ROWS to the list of row numbers and, for each
# row n, <prefix>_<n> to its columns (a list) and <prefix>_<n>_LINE to its
# line number. Comments (# to end of line) and blank lines are dropped.
function(read_table file prefix ncols)
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "${file}: missing")
  endif()
  file(READ "${file}" content)
  string(REGEX REPLACE "#[^\n]*" "" content "${content}")
  string(REPLACE "\r" "" content "${content}")
  if(content MATCHES "[;\\\\\"]")
    message(FATAL_ERROR "${file}: ';', '\\' and '\"' are not allowed outside comments")
  endif()
  string(REPLACE "\n" ";" lines "${content}")
  set(lineno 0)
  set(rows "")
  set(n 0)
  foreach(line IN LISTS lines)
    math(EXPR lineno "${lineno} + 1")
    string(STRIP "${line}" line)
    if(line STREQUAL "")
      continue()
    endif()
    string(REGEX REPLACE "[ \t]+" ";" cols "${line}")
    list(LENGTH cols count)
    if(NOT count EQUAL ncols)
      message(FATAL_ERROR "${file}:${lineno}: ${count} columns, expected ${ncols}")
    endif()
    list(APPEND rows ${n})
    set(${prefix}_${n} "${cols}" PARENT_SCOPE)
    set(${prefix}_${n}_LINE "${file}:${lineno}" PARENT_SCOPE)
    math(EXPR n "${n} + 1")
  endforeach()
  if(n EQUAL 0)
    message(FATAL_ERROR "${file}: no rows")
  endif()
  set(${prefix}_ROWS "${rows}" PARENT_SCOPE)
endfunction()

function(check_name where name)
  string(LENGTH "${name}" len)
  if(len GREATER 31 OR NOT name MATCHES "^[A-Za-z0-9_.+/-]+$")
    message(FATAL_ERROR "${where}: bad part name '${name}' (1 to 31 of A-Z a-z 0-9 _ . + / -)")
  endif()
endfunction()

# Checks a 32-bit hexadecimal id and sets <out> to its value.
function(check_hex where text out)
  if(NOT text MATCHES "^0[xX][0-9A-Fa-f]+$")
    message(FATAL_ERROR "${where}: '${text}' is not a hexadecimal id (0x...)")
  endif()
  string(REGEX REPLACE "^0[xX]0*" "" digits "${text}")
  string(LENGTH "${digits}" len)
  if(len GREATER 8)
    message(FATAL_ERROR "${where}: '${text}' does not fit in 32 bits")
  endif()
  math(EXPR value "${text}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

# Sets <out> to the C++ literal of a family column: an identifier's index or
# "-" (no family) when allowed.
function(family_index where text allow_none out)
  if(text STREQUAL "-")
    if(NOT allow_none)
      message(FATAL_ERROR "${where}: this table needs a family, not '-'")
    endif()
    set(${out} "0xFFFFFFFFu" PARENT_SCOPE)
    return()
  endif()
  if(NOT DEFINED FAMILY_INDEX_${text})
    message(FATAL_ERROR "${where}: unknown family '${text}' (see families.tsv)")
  endif()
  set(${out} "${FAMILY_INDEX_${text}}u" PARENT_SCOPE)
endfunction()

# ---- families -------------------------------------------------------------
read_table("${DATA_DIR}/families.tsv" FAM 2)
set(family_lines "")
set(expected 0)
foreach(n IN LISTS FAM_ROWS)
  list(GET FAM_${n} 0 index)
  list(GET FAM_${n} 1 ident)
  set(where "${FAM_${n}_LINE}")
  if(NOT index STREQUAL "${expected}")
    message(FATAL_ERROR "${where}: index '${index}', expected ${expected} (keep the order; append only)")
  endif()
  string(LENGTH "${ident}" len)
  if(len GREATER 15 OR NOT ident MATCHES "^PROJ_[A-Za-z0-9_]+$")
    message(FATAL_ERROR "${where}: bad identifier '${ident}' (PROJ_ and a name, at most 15 characters)")
  endif()
  if(DEFINED FAMILY_INDEX_${ident})
    message(FATAL_ERROR "${where}: '${ident}' is already index ${FAMILY_INDEX_${ident}}")
  endif()
  set(FAMILY_INDEX_${ident} ${index})
  string(APPEND family_lines "    \"${ident}\",\n")
  math(EXPR expected "${expected} + 1")
endforeach()
if(NOT expected EQUAL FAMILY_COUNT)
  message(FATAL_ERROR "${DATA_DIR}/families.tsv: ${expected} identifiers, expected ${FAMILY_COUNT}")
endif()

# ---- tables keyed by the full PID ------------------------------------------
function(pid_table file allow_none out)
  read_table("${file}" T 3)
  set(text "")
  foreach(n IN LISTS T_ROWS)
    set(where "${T_${n}_LINE}")
    list(GET T_${n} 0 name)
    list(GET T_${n} 1 pid)
    list(GET T_${n} 2 family)
    check_name("${where}" "${name}")
    check_hex("${where}" "${pid}" unused)
    family_index("${where}" "${family}" ${allow_none} fam)
    string(APPEND text "    {\"${name}\", ${pid}u, ${fam}},\n")
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

pid_table("${DATA_DIR}/parts_cm.tsv" OFF cm_rows)
pid_table("${DATA_DIR}/parts_8051.tsv" ON c51_rows)
pid_table("${DATA_DIR}/parts_plosk_exact.tsv" OFF exact_rows)

# ---- masked third-kind table -----------------------------------------------
read_table("${DATA_DIR}/parts_plosk_masked.tsv" M 4)
set(masked_rows "")
foreach(n IN LISTS M_ROWS)
  set(where "${M_${n}_LINE}")
  list(GET M_${n} 0 name)
  list(GET M_${n} 1 pidkey)
  list(GET M_${n} 2 idkey)
  list(GET M_${n} 3 family)
  check_name("${where}" "${name}")
  check_hex("${where}" "${pidkey}" pv)
  check_hex("${where}" "${idkey}" iv)
  math(EXPR stray "${pv} & ~0x00FF0000")
  if(NOT stray EQUAL 0)
    message(FATAL_ERROR "${where}: PID key ${pidkey} has bits outside 0x00FF0000; it could never match")
  endif()
  math(EXPR stray "${iv} & ~0x00070700")
  if(NOT stray EQUAL 0)
    message(FATAL_ERROR "${where}: second-id key ${idkey} has bits outside 0x00070700; it could never match")
  endif()
  family_index("${where}" "${family}" OFF fam)
  string(APPEND masked_rows "    {\"${name}\", ${pidkey}u, ${idkey}u, ${fam}},\n")
endforeach()

# ---- default third-kind name -----------------------------------------------
read_table("${DATA_DIR}/plosk_default.txt" D 1)
list(LENGTH D_ROWS nd)
if(NOT nd EQUAL 1)
  message(FATAL_ERROR "${DATA_DIR}/plosk_default.txt: expected one name, found ${nd}")
endif()
set(default_name "${D_0}")
string(LENGTH "${default_name}" len)
check_name("${D_0_LINE}" "${default_name}")
if(NOT len EQUAL 8)
  message(FATAL_ERROR "${D_0_LINE}: default name '${default_name}' must have 8 characters")
endif()

# ---- output -----------------------------------------------------------------
set(cpp "// Generated from the text tables in data/ by data/GenPartTables.cmake.
// Do not edit: change the .tsv files instead.
#include \"data/PartTables.h\"

#include <iterator>

namespace gadrel::data {

const PartRecord kCortexMParts[] = {
${cm_rows}};
const std::size_t kCortexMPartCount = std::size(kCortexMParts);

const PartRecord k8051Parts[] = {
${c51_rows}};
const std::size_t k8051PartCount = std::size(k8051Parts);

const PartRecord kPloskExactParts[] = {
${exact_rows}};
const std::size_t kPloskExactPartCount = std::size(kPloskExactParts);

const MaskedPartRecord kPloskMaskedParts[] = {
${masked_rows}};
const std::size_t kPloskMaskedPartCount = std::size(kPloskMaskedParts);

const char kPloskDefaultName[9] = \"${default_name}\";

const char* const kFamilyNames[kFamilyCount] = {
${family_lines}};

}  // namespace gadrel::data
")
file(WRITE "${OUT}" "${cpp}")
